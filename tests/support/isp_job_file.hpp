// An exported ISP file of a serial flash job, written as the customer page's
// Export ISP File writes it (from a scratch installation of its own): raw
// binary banks of the given sizes, one 64 KB bank after the other, on the
// Norvane IIC cable with the Winbond flash of the virtual board.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

#include "shell/packages.hpp"
#include "shell_test_support.hpp"

namespace mvx::test {

struct SerialFlashJobFile {
    SerialFlashJobFile(const std::string& path, std::initializer_list<std::size_t> sizes)
    {
        const tool::ShellLocations where = tool::ShellLocations::forFolders(
            scratch.file("bin/MVX_ISP_Tool"), scratch.file("programs"), scratch.file("registry.ini"));
        std::filesystem::create_directories(where.workFolder);
        tool::IspJob job;
        job.mcu = MVX_OP_SERIAL_FLASH;
        job.options = tool::modeDefaults(job.mcu);
        job.options.interface = MVX_ADAPTER_NORVANE_IIC;
        job.options.brand = MVX_BRAND_WINBOND;
        job.options.ispaddr = 1;
        job.options.ispfiletype = 0;
        job.options.filecheck = 0;
        unsigned bank = 0;
        for (std::size_t size : sizes) {
            const std::string data = bytesOfLength(size, bank + 7);
            writeWholeFile(where.workFile("hexfile" + std::to_string(bank + 1)), data);
            job.names.hex[bank] = "bank" + std::to_string(bank) + ".bin";
            job.options.filecheck |= 1 << bank;
            image.resize(bank * 0x10000, '\xFF');
            image += data;
            ++bank;
        }
        const tool::PackageResult written = tool::writeIspFile(path, job, where);
        ok = written.ok;
        message = written.message;
    }

    TempFolder scratch;
    std::string image;   // what the flash holds from offset 0 once the job ran
    bool ok = false;
    std::string message;
};

}  // namespace mvx::test
