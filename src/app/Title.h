#pragma once

namespace corvella::app {

// The application title: the window caption, the task bar text and the
// caption of the box that shows an unexpected error.
inline constexpr char kApplicationTitle[] = "Corvella v1.07";

}  // namespace corvella::app
