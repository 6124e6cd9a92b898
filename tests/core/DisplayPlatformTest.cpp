#include "core/StartupDecisions.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(DisplayPlatform, WaylandSessionsRunOnXWaylandWhenTheyCan) {
    struct {
        const char* what;
        DisplayEnvironment env;
        const char* platform;
        const char* logStart; // "" when nothing is logged
    } cases[] = {
        {"X11 session", {"", "x11", "", ":0"}, "", ""},
        {"no session type, X display", {"", "", "", ":1"}, "", ""},
        {"Wayland with XWayland",
         {"", "wayland", "wayland-0", ":0"},
         "xcb",
         "Wayland session: running on XWayland"},
        {"Wayland display alone marks the session",
         {"", "", "wayland-1", ":0"},
         "xcb",
         "Wayland session: running on XWayland"},
        {"Wayland without XWayland",
         {"", "wayland", "wayland-0", ""},
         "",
         "Wayland session without XWayland: the checker window cannot place itself"},
        {"the user's platform wins", {"wayland", "wayland", "wayland-0", ":0"}, "", ""},
        {"the user's offscreen wins", {"offscreen", "", "", ""}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DisplayDecision d = decideDisplayPlatform(c.env);
        EXPECT_EQ(d.qtPlatform, c.platform);
        EXPECT_EQ(d.logLine.rfind(c.logStart, 0), 0u) << d.logLine;
        EXPECT_EQ(d.logLine.empty(), *c.logStart == '\0');
    }
}

} // namespace
} // namespace tarn
