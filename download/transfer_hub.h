// One thread drives every request added to it through one libcurl multi handle, so requests to
// one server share its connections: over HTTP/2 they are streams on a single connection.
// Thread: Add, Remove and Resume are called from any thread (each request by one thread at a
// time); an ITransfer's functions are called on the hub's own thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class CTransferHub {
public:
    // A request's side of the hub.
    class ITransfer {
    public:
        // After each round of the hub's work on the request: its handle may be queried.
        virtual void AfterWork() = 0;
        // The request ended with this libcurl code; AfterWork is not called again.
        virtual void Done(int code) = 0;

    protected:
        ~ITransfer() = default;
    };

    // Starts the thread; throws std::system_error when it cannot.
    CTransferHub();
    // Every request must have been removed.
    ~CTransferHub();
    CTransferHub(const CTransferHub&) = delete;
    CTransferHub& operator=(const CTransferHub&) = delete;

    // Whether libcurl here speaks HTTP/2, so that sharing a hub can multiplex.
    static bool CanMultiplex();

    // Hands over a libcurl easy handle, set up and not in use elsewhere, until Remove.
    void Add(void* easy, ITransfer* transfer);
    // Takes the handle back; returns once the hub no longer touches it or its transfer.
    void Remove(void* easy);
    // Lets a request whose body callback paused it go on.
    void Resume(void* easy);

private:
    enum class Kind { Add, Remove, Resume };
    struct Command {
        Kind kind;
        void* easy;
        ITransfer* transfer;
    };

    void Run();
    // Queues the command and wakes the hub; returns its serial number.
    uint64_t Post(Command command);
    // Runs the posted commands; true once the hub is to end.
    bool TakeCommands();

    void* m_multi = nullptr;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Command> m_commands;          // guarded by m_lock
    uint64_t m_posted = 0;                    // guarded by m_lock
    uint64_t m_handled = 0;                   // guarded by m_lock
    bool m_bEnd = false;                      // guarded by m_lock
    std::map<void*, ITransfer*> m_transfers;  // the hub's thread only
    std::thread m_thread;
};
