#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarn::test {

// A private PulseAudio sound server with one null sink, for hearing what the program plays.
// It runs as our child with its sockets, state and log in a temporary folder, is stopped by
// its pid, and never touches a desktop's own sound server. Recordings of the sink's monitor
// are taken with parec, also stopped by its pid.
class PulseServer {
public:
    static constexpr const char* SinkName = "tarnsink";
    static constexpr int RecordRate = 44100;

    // pulseaudio and parec are installed.
    static bool available();
    // A missing sound server fails instead of skipping (CI=true in the environment).
    static bool required();

    // Starts the server and waits until it answers; throws with the reason when it does not.
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // The address for PULSE_SERVER.
    std::string address() const { return "unix:" + m_dir + "/native"; }
    std::string log() const;

    // Records the sink's monitor (mono, 16 bit, RecordRate) from start to stop.
    class Recording {
    public:
        explicit Recording(const PulseServer& server);
        ~Recording();
        Recording(const Recording&) = delete;
        Recording& operator=(const Recording&) = delete;
        // Stops the recorder and returns what it recorded.
        std::vector<std::int16_t> stop();

    private:
        std::string m_file;
        pid_t m_pid = -1;
    };

private:
    std::string m_dir;
    pid_t m_pid = -1;
};

} // namespace tarn::test
