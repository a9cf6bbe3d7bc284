// The preview server's names on the session bus.
#pragma once

namespace PreviewServiceNames {

inline constexpr char kService[] = "com.lumivale.quicklook.PreviewService";
inline constexpr char kObjectPath[] = "/com/lumivale/quicklook/PreviewService";
inline constexpr char kInterface[] = "com.lumivale.quicklook.PreviewService";
// The error a Preview call gets when the server serves another app bundle than the caller's.
inline constexpr char kOtherAppError[] = "com.lumivale.quicklook.Error.OtherApp";
inline constexpr char kFailedError[] = "com.lumivale.quicklook.Error.Failed";

} // namespace PreviewServiceNames
