#pragma once

#include "core/NewMailSounds.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tarn::test {

// A sound player for tests: records every file played, from any thread; fails for the files
// in `failing`; can take some time per file and remembers how many plays ever overlapped.
class RecordingSoundPlayer : public SoundPlayer {
public:
    explicit RecordingSoundPlayer(std::chrono::milliseconds playTime = {}) : m_playTime(playTime) {}

    bool play(const std::string& file) override {
        const int now = ++m_active;
        int seen = maxActive.load();
        while (now > seen && !maxActive.compare_exchange_weak(seen, now)) {
        }
        if (m_playTime.count() > 0)
            std::this_thread::sleep_for(m_playTime);
        bool ok;
        {
            std::lock_guard<std::mutex> g(m_mutex);
            m_files.push_back(file);
            ok = m_failing.count(file) == 0;
        }
        --m_active;
        return ok;
    }

    std::vector<std::string> files() const {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_files;
    }
    void setFailing(std::set<std::string> failing) {
        std::lock_guard<std::mutex> g(m_mutex);
        m_failing = std::move(failing);
    }

    std::atomic<int> maxActive{0};

private:
    std::chrono::milliseconds m_playTime;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_files;
    std::set<std::string> m_failing;
    std::atomic<int> m_active{0};
};

} // namespace tarn::test
