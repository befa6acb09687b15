// The cells of the selection table without a transport (kind 1 without
// library, kind 3 with library): every write and read is accepted, touches
// nothing and answers 0; a read leaves the caller's buffer as it was.
#pragma once

#include <memory>
#include <utility>

#include "mvx/adapters/adapter_ops.hpp"

namespace mvx::adapters {

class NoTransport final : public AdapterOps {
public:
    // prober: the transport whose probe this cell still answers with (kind 3
    // probes its cable whatever the library mode), or nullptr for no probe.
    explicit NoTransport(bool hasPagePath, std::unique_ptr<AdapterOps> prober = nullptr)
        : hasPagePath_(hasPagePath), prober_(std::move(prober))
    {
    }

    int write(std::uint8_t, std::uint8_t, const std::uint8_t*, int, PassThrough) override { return 0; }
    int read(std::uint8_t, std::uint8_t, std::uint8_t*, int, PassThrough) override { return 0; }
    int writeBlock(const std::uint8_t*, int, std::uint8_t, std::uint8_t, std::uint16_t) override { return 0; }
    int probeTarget() override { return prober_ ? prober_->probeTarget() : 0; }
    // The cable the probe looks at is still a bus to keep for the run.
    std::string busName() override { return prober_ ? prober_->busName() : std::string(); }
    bool hasPagePath() const override { return hasPagePath_; }

private:
    bool hasPagePath_;
    std::unique_ptr<AdapterOps> prober_;
};

}  // namespace mvx::adapters
