// The application's version, as --version prints it and the backend is told.
#pragma once

namespace quillon {

inline constexpr char kAppVersion[] = "1.0.0";

}  // namespace quillon
