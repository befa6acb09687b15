// FTDI's own driver library, libftd2xx.so, loaded at run time, and the
// choice between it and libftdi1.
#include <cstdint>
#include <string>

#include "ftdi/d2xx.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/dynamic_library.hpp"

namespace mvx::adapters {

namespace {

// The library's own types: FT_STATUS and DWORD are 32-bit values in its
// Windows-style headers, but builds that made them `unsigned long` exist.
// DWORDs therefore go in as 64-bit values (the callee reads what it needs
// of the register) and come back through 64-bit slots (a 32-bit write fills
// the low half on the little-endian machines the library ships for); the
// status is taken as its low 32 bits.
using Dword = std::uint64_t;
using FtOpen = std::uint32_t (*)(int, void**);
using FtClose = std::uint32_t (*)(void*);
using FtRead = std::uint32_t (*)(void*, void*, Dword, Dword*);
using FtWrite = std::uint32_t (*)(void*, void*, Dword, Dword*);
using FtSetLatencyTimer = std::uint32_t (*)(void*, unsigned char);
using FtSetBitMode = std::uint32_t (*)(void*, unsigned char, unsigned char);
using FtGetQueueStatus = std::uint32_t (*)(void*, Dword*);

std::uint32_t low32(Dword value)
{
    return static_cast<std::uint32_t>(value & 0xFFFFFFFFu);
}

class Ftd2xxLibrary final : public D2xxApi {
public:
    bool load(const std::string& path, std::string* error)
    {
        if (!library_.open(path)) {
            *error = library_.error();
            return false;
        }
        open_ = library_.function<FtOpen>("FT_Open");
        close_ = library_.function<FtClose>("FT_Close");
        read_ = library_.function<FtRead>("FT_Read");
        write_ = library_.function<FtWrite>("FT_Write");
        setLatencyTimer_ = library_.function<FtSetLatencyTimer>("FT_SetLatencyTimer");
        setBitMode_ = library_.function<FtSetBitMode>("FT_SetBitMode");
        getQueueStatus_ = library_.function<FtGetQueueStatus>("FT_GetQueueStatus");
        const struct {
            const char* name;
            bool found;
        } calls[] = {{"FT_Open", open_ != nullptr},
                     {"FT_Close", close_ != nullptr},
                     {"FT_Read", read_ != nullptr},
                     {"FT_Write", write_ != nullptr},
                     {"FT_SetLatencyTimer", setLatencyTimer_ != nullptr},
                     {"FT_SetBitMode", setBitMode_ != nullptr},
                     {"FT_GetQueueStatus", getQueueStatus_ != nullptr}};
        for (const auto& call : calls) {
            if (!call.found) {
                *error = path + " lacks " + call.name;
                return false;
            }
        }
        return true;
    }

    FtStatus open(int deviceIndex, FtHandle* handle) override
    {
        if (handle == nullptr)
            return d2xx::kInvalidParameter;
        *handle = nullptr;
        return open_(deviceIndex, handle);
    }
    FtStatus close(FtHandle handle) override { return close_(handle); }
    FtStatus read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* returned) override
    {
        if (returned == nullptr)
            return d2xx::kInvalidParameter;
        Dword got = 0;
        const FtStatus status = read_(handle, buffer, size, &got);
        *returned = low32(got) <= size ? low32(got) : size;
        return status;
    }
    FtStatus write(FtHandle handle, const std::uint8_t* bytes, std::uint32_t size, std::uint32_t* written) override
    {
        if (written == nullptr)
            return d2xx::kInvalidParameter;
        Dword sent = 0;
        // The library's prototype is not const-correct; it does not write to the bytes.
        const FtStatus status = write_(handle, const_cast<std::uint8_t*>(bytes), size, &sent);
        *written = low32(sent) <= size ? low32(sent) : size;
        return status;
    }
    FtStatus setLatencyTimer(FtHandle handle, std::uint8_t millis) override { return setLatencyTimer_(handle, millis); }
    FtStatus setBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override
    {
        return setBitMode_(handle, mask, mode);
    }
    FtStatus getQueueStatus(FtHandle handle, std::uint32_t* waiting) override
    {
        if (waiting == nullptr)
            return d2xx::kInvalidParameter;
        Dword count = 0;
        const FtStatus status = getQueueStatus_(handle, &count);
        *waiting = low32(count);
        return status;
    }
    const char* name() const override { return "libftd2xx"; }

private:
    platform::DynamicLibrary library_;
    FtOpen open_ = nullptr;
    FtClose close_ = nullptr;
    FtRead read_ = nullptr;
    FtWrite write_ = nullptr;
    FtSetLatencyTimer setLatencyTimer_ = nullptr;
    FtSetBitMode setBitMode_ = nullptr;
    FtGetQueueStatus getQueueStatus_ = nullptr;
};

}  // namespace

std::unique_ptr<D2xxApi> loadFtd2xx(const std::string& library, std::string* error)
{
    auto api = std::make_unique<Ftd2xxLibrary>();
    std::string why;
    if (!api->load(library, &why)) {
        if (error != nullptr)
            *error = why;
        return nullptr;
    }
    return api;
}

std::unique_ptr<D2xxApi> loadSystemD2xx()
{
    std::string error;
    if (auto api = loadFtd2xx("libftd2xx.so", &error))
        return api;
    platform::debugOutput("libftd2xx.so not usable (" + error + "): using libftdi1");
    return makeLibftdiD2xx();
}

}  // namespace mvx::adapters
