#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <string>

#include "check/Session.h"
#include "core/Clock.h"
#include "fakes/RecordingCheckHost.h"

namespace tarn::test {

// A fixture for check workers: a Session in a fresh temporary folder, removed afterwards, and
// a RecordingCheckHost bound to it.
class CheckSessionSupport : public ::testing::Test {
protected:
    // folderPrefix names the temporary folder below /tmp, so a left-over one shows its origin.
    explicit CheckSessionSupport(const std::string& folderPrefix)
        : session(makeFolder(folderPrefix), systemClock(), uniqueLockSuffix()), host(session) {}
    ~CheckSessionSupport() override { std::filesystem::remove_all(session.workingFolder()); }

    static std::string makeFolder(const std::string& prefix) {
        std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("cannot create " + tmpl + ": " + std::strerror(errno));
        return tmpl;
    }

    // The deletion log as written so far; empty when there is none.
    std::string logText() {
        std::ifstream in(session.path("tarnlog.log"), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    Session session;
    RecordingCheckHost host;
};

} // namespace tarn::test
