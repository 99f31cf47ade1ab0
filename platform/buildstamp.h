// The program's build stamp: the build writes its date and time, in MS-DOS form, into the time
// stamp of the image's root resource directory (payload/postlink/buildstamp.py). Decoding it is
// portable; reading the running program's own stamp is the Win32 part (buildstamp_win32.h).
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

struct DosDateTime {
    int year, month, day, hour, minute, second;
};

// An MS-DOS date (high 16 bits) and time (low 16 bits); none unless it names a real moment.
std::optional<DosDateTime> DecodeDosStamp(std::uint32_t stamp);
std::uint32_t EncodeDosStamp(const DosDateTime& t);

} // namespace platform
