// Linked into every test program: keeps Qt off any real display and puts a recording
// "systemctl" first on PATH, so a program a test starts (the built tarnwick itself) cannot
// reach the real power-off even with a shutdown filter. In-process tests bind a recorder.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TestEnvironment {
    std::string folder;

    TestEnvironment() {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        char tmpl[] = "/tmp/tarn-test-bin-XXXXXX";
        if (!mkdtemp(tmpl))
            std::abort(); // no test may run without the guard
        folder = tmpl;
        for (const char* name : {"systemctl", "poweroff", "shutdown", "loginctl"}) {
            const std::string path = folder + "/" + name;
            FILE* f = std::fopen(path.c_str(), "w");
            if (!f)
                std::abort();
            std::fprintf(f, "#!/bin/sh\necho \"%s $*\" >> '%s/calls'\nexit 1\n", name,
                         folder.c_str());
            std::fclose(f);
            chmod(path.c_str(), 0755);
        }
        const char* path = std::getenv("PATH");
        const std::string newPath = folder + ":" + (path ? path : "/usr/bin:/bin");
        setenv("PATH", newPath.c_str(), 1);
        setenv("TARN_TEST_BIN_DIR", folder.c_str(), 1);
    }
    ~TestEnvironment() {
        for (const char* name : {"systemctl", "poweroff", "shutdown", "loginctl", "calls"})
            std::remove((folder + "/" + name).c_str());
        rmdir(folder.c_str());
    }
};

const TestEnvironment environment;

} // namespace
