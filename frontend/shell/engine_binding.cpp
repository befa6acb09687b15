#include "shell/engine_binding.hpp"

#include <algorithm>

#include "mvx/platform/debug_output.hpp"

namespace mvx::tool {

EngineHandle EngineBinding::adopt(EngineHandle library, bool found)
{
    if (!found) {
        platform::debugOutput("engine not loaded: " + library->error());
        // A library without both exports was loaded: nothing held before
        // counts any more.
        if (library->lacksExport()) {
            entry_ = EngineEntryPoints{};
            source_ = nullptr;
        }
        return nullptr;
    }
    entry_ = EngineEntryPoints{library->isp(), library->getFileInfo()};
    source_ = library.get();
    return library;
}

EngineHandle EngineBinding::bindEngine(const std::string& path)
{
    auto library = std::make_unique<EngineLibrary>();
    const bool found = library->open(path);
    return adopt(std::move(library), found);
}

EngineHandle EngineBinding::bindForPage()
{
    auto library = std::make_unique<EngineLibrary>();
    const bool found = library->openFirst(engineCandidates(where_.programPath, where_.workFile(kEngineMember)));
    if (EngineHandle handle = adopt(std::move(library), found))
        return handle;
    ui_.showMessage(kLoadDllFailedMessage, kToolCaption);
    return nullptr;
}

void EngineBinding::releaseForPage(EngineHandle& handle)
{
    if (!handle)
        return;
    if (source_ == handle.get()) {
        entry_ = EngineEntryPoints{};
        source_ = nullptr;
    }
    handle.reset();
}

std::uint8_t libraryModeFor(int interfaceKind, platform::RegistryStore& registry)
{
    if (interfaceKind == MVX_ADAPTER_FTDI_USB)
        return 1;
    if (interfaceKind == MVX_ADAPTER_CVT_IIC)
        return 0;
    std::uint32_t newest = 0;
    for (std::string_view key : {platform::kDebugToolKey, platform::kCustomerToolKey}) {
        if (!registry.keyExists(key))
            registry.createKey(key);   // an unwritable store just reads as version 0
        newest = std::max(newest, registry.readDword(key, platform::kToolVersionValue).value_or(0));
    }
    return newest > 99 ? 1 : 0;
}

}  // namespace mvx::tool
