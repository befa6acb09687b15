#include "shell/engine_binding.hpp"

#include <algorithm>

#include "mvx/platform/debug_output.hpp"
#include "shell/file_io.hpp"

namespace mvx::tool {

EngineHandle EngineBinding::bindEngine(const std::string& path)
{
    auto library = std::make_unique<platform::DynamicLibrary>();
    if (!library->open(path)) {
        platform::debugOutput("engine not loaded from " + path + ": " + library->error());
        return nullptr;
    }
    entry_ = EngineEntryPoints{};
    source_ = nullptr;
    EngineEntryPoints found{library->function<MvxIspFn>("mvxISP"),
                            library->function<MvxGetFileInfoFn>("mvxGetFileInfo")};
    if (!found.bound()) {
        platform::debugOutput("engine at " + path + " lacks an entry point");
        return nullptr;
    }
    entry_ = found;
    source_ = library.get();
    return library;
}

EngineHandle EngineBinding::bindForPage()
{
    std::vector<std::string> candidates{where_.workFile(kEngineMember)};
    for (std::string& beside : where_.engineBesideProgram())
        candidates.push_back(std::move(beside));
    for (const std::string& path : candidates) {
        if (!fileExists(path))
            continue;
        if (EngineHandle handle = bindEngine(path))
            return handle;
    }
    if (EngineHandle handle = bindEngine(std::string(kEngineLibraryName)))
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
