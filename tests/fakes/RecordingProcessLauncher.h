#pragma once

#include "platform/ProcessLauncher.h"

#include <string>
#include <vector>

namespace tarn::test {

// Records the programs a command would start instead of starting them.
class RecordingProcessLauncher : public ProcessLauncher {
public:
    bool startDetached(const std::vector<std::string>& argv,
                       const std::string& workingFolder) override {
        calls.push_back({argv, workingFolder});
        return result;
    }
    struct Call {
        std::vector<std::string> argv;
        std::string folder;
    };
    std::vector<Call> calls;
    bool result = true; // what every start reports
};

} // namespace tarn::test
