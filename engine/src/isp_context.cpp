#include "isp_context.hpp"

#include "mvx/sim/board.hpp"

namespace mvx::engine {

OptionsCopy OptionsCopy::from(const IspOptions* options)
{
    OptionsCopy copy;
    if (options == nullptr)
        return copy;
    copy.fields = *options;
    if (options->hdcp_key_file != nullptr)
        copy.hdcpKeyFile = options->hdcp_key_file;
    if (options->saveread_hdcp_key_file_path != nullptr)
        copy.readBackFolder = options->saveread_hdcp_key_file_path;
    // The caller keeps its texts; only the copies above are used.
    copy.fields.hdcp_key_file = nullptr;
    copy.fields.saveread_hdcp_key_file_path = nullptr;
    return copy;
}

IspContext::IspContext() = default;

IspContext::~IspContext()
{
    // The transport goes first, then the board it may be bound to.
    link.reset();
    if (transport && transportOpen)
        transport->close();
    transport.reset();
    board.reset();
}

}  // namespace mvx::engine
