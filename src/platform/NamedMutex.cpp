#include "platform/NamedMutex.h"

#include "core/TarnError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace {

constexpr unsigned kReadyMagic = 0x7a4d7458u;

// Lives in POSIX shared memory; every process of the user that opens the same name maps it.
struct SharedBlock {
    pthread_mutex_t mutex;
    volatile unsigned ready;
};

std::string systemObjectName(const std::string& name) {
    std::string out = "/tarnwick." + std::to_string(static_cast<unsigned long>(getuid())) + ".";
    for (char c : name) {
        out += (c == '/' || c == '\0') ? '_' : c;
    }
    // Keep well inside NAME_MAX for the shared-memory file system.
    if (out.size() > 200) {
        out.resize(200);
    }
    return out;
}

// One mapping per name and process, so every NamedMutex object of a name in this process locks
// the very same pthread mutex (and tools that track mutexes by address see one mutex).
struct Segment {
    int fd = -1;
    SharedBlock* block = nullptr;
    ~Segment() {
        if (block != nullptr) {
            munmap(block, sizeof(SharedBlock));
        }
        if (fd >= 0) {
            close(fd);
        }
    }
};

struct Registry {
    std::mutex guard;
    std::map<std::string, std::weak_ptr<Segment>> segments;
};

Registry& registry() {
    // Never destroyed: mutexes held by objects with static lifetime may outlive it otherwise.
    static Registry* r = new Registry;
    return *r;
}

[[noreturn]] void fail(const std::string& what, int err) {
    throw TarnError("Named lock: " + what + ": " + std::strerror(err));
}

std::shared_ptr<Segment> openSegment(const std::string& sysName) {
    auto seg = std::make_shared<Segment>();
    seg->fd = shm_open(sysName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (seg->fd < 0) {
        fail("shm_open " + sysName, errno);
    }
    // The file lock serialises first-time initialisation between processes; it is released
    // by the kernel if the initialising process dies, so nobody waits on a half-made block.
    while (flock(seg->fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            fail("flock", errno);
        }
    }
    struct stat st {};
    if (fstat(seg->fd, &st) != 0) {
        int e = errno;
        flock(seg->fd, LOCK_UN);
        fail("fstat", e);
    }
    if (st.st_size < static_cast<off_t>(sizeof(SharedBlock)) &&
        ftruncate(seg->fd, sizeof(SharedBlock)) != 0) {
        int e = errno;
        flock(seg->fd, LOCK_UN);
        fail("ftruncate", e);
    }
    void* p = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, seg->fd, 0);
    if (p == MAP_FAILED) {
        int e = errno;
        flock(seg->fd, LOCK_UN);
        fail("mmap", e);
    }
    seg->block = static_cast<SharedBlock*>(p);
    if (seg->block->ready != kReadyMagic) {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        int rc = pthread_mutex_init(&seg->block->mutex, &attr);
        pthread_mutexattr_destroy(&attr);
        if (rc != 0) {
            flock(seg->fd, LOCK_UN);
            fail("pthread_mutex_init", rc);
        }
        __atomic_store_n(&seg->block->ready, kReadyMagic, __ATOMIC_RELEASE);
    }
    flock(seg->fd, LOCK_UN);
    return seg;
}

} // namespace

struct NamedMutex::Impl {
    std::shared_ptr<Segment> segment;
};

NamedMutex::NamedMutex(std::string name) : m_name(std::move(name)), m_impl(new Impl) {
    const std::string sysName = systemObjectName(m_name);
    Registry& reg = registry();
    std::lock_guard<std::mutex> g(reg.guard);
    auto& slot = reg.segments[sysName];
    m_impl->segment = slot.lock();
    if (!m_impl->segment) {
        m_impl->segment = openSegment(sysName);
        slot = m_impl->segment;
    }
}

NamedMutex::~NamedMutex() {
    Registry& reg = registry();
    std::lock_guard<std::mutex> g(reg.guard);
    m_impl->segment.reset();
    const auto it = reg.segments.find(systemObjectName(m_name));
    if (it != reg.segments.end() && it->second.expired()) {
        reg.segments.erase(it);
    }
}

void NamedMutex::lock() {
    pthread_mutex_t* m = &m_impl->segment->block->mutex;
    int rc = pthread_mutex_lock(m);
    if (rc == EOWNERDEAD) {
        // The previous owner ended while holding the lock: it is ours now.
        pthread_mutex_consistent(m);
        rc = 0;
    }
    if (rc != 0) {
        fail("lock " + m_name, rc);
    }
}

bool NamedMutex::try_lock() {
    pthread_mutex_t* m = &m_impl->segment->block->mutex;
    int rc = pthread_mutex_trylock(m);
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(m);
        return true;
    }
    if (rc == EBUSY) {
        return false;
    }
    if (rc != 0) {
        fail("try_lock " + m_name, rc);
    }
    return true;
}

void NamedMutex::unlock() {
    // Unlocking a lock this thread does not hold is refused by the mutex and has no effect.
    pthread_mutex_unlock(&m_impl->segment->block->mutex);
}

void NamedMutex::removeSystemObject(const std::string& name) {
    shm_unlink(systemObjectName(name).c_str());
}

} // namespace tarn
