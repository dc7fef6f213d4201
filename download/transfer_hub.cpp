#include "download/transfer_hub.h"

#include <curl/curl.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace {

// The longest the hub sleeps without news; commands wake it at once.
constexpr int kPollMs = 100;

}  // namespace

CTransferHub::CTransferHub() {
    CURLM* multi = curl_multi_init();
    if (multi == nullptr) {
        throw std::system_error(ENOMEM, std::generic_category(), "curl_multi_init");
    }
    // Streams on one connection rather than a connection each.
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    m_multi = multi;
    try {
        m_thread = std::thread(&CTransferHub::Run, this);
    } catch (...) {
        curl_multi_cleanup(multi);
        throw;
    }
}

CTransferHub::~CTransferHub() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bEnd = true;
    }
    curl_multi_wakeup(static_cast<CURLM*>(m_multi));
    m_thread.join();
    curl_multi_cleanup(static_cast<CURLM*>(m_multi));
}

bool CTransferHub::CanMultiplex() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && (info->features & CURL_VERSION_HTTP2) != 0;
}

void CTransferHub::Add(void* easy, ITransfer* transfer) {
    Post({Kind::Add, easy, transfer});
}

void CTransferHub::Remove(void* easy) {
    const uint64_t mine = Post({Kind::Remove, easy, nullptr});
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return m_handled >= mine; });
}

void CTransferHub::Resume(void* easy) {
    Post({Kind::Resume, easy, nullptr});
}

uint64_t CTransferHub::Post(Command command) {
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_commands.push_back(command);
        serial = ++m_posted;
    }
    curl_multi_wakeup(static_cast<CURLM*>(m_multi));
    return serial;
}

bool CTransferHub::TakeCommands() {
    std::vector<Command> commands;
    uint64_t posted = 0;
    bool end = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        commands.swap(m_commands);
        posted = m_posted;
        end = m_bEnd;
    }
    auto* multi = static_cast<CURLM*>(m_multi);
    for (const Command& command : commands) {
        auto* easy = static_cast<CURL*>(command.easy);
        switch (command.kind) {
            case Kind::Add:
                if (curl_multi_add_handle(multi, easy) == CURLM_OK) {
                    m_transfers[command.easy] = command.transfer;
                } else {
                    command.transfer->Done(CURLE_FAILED_INIT);
                }
                break;
            case Kind::Remove:
                if (m_transfers.erase(command.easy) > 0) {
                    curl_multi_remove_handle(multi, easy);
                }
                break;
            case Kind::Resume:
                // May hand over held bytes at once, through the request's body callback.
                if (m_transfers.count(command.easy) > 0) {
                    curl_easy_pause(easy, CURLPAUSE_CONT);
                }
                break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_handled = posted;
    }
    m_changed.notify_all();
    return end;
}

void CTransferHub::Run() {
    auto* multi = static_cast<CURLM*>(m_multi);
    while (!TakeCommands()) {
        int active = 0;
        curl_multi_perform(multi, &active);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            const auto found = m_transfers.find(message->easy_handle);
            if (found != m_transfers.end()) {
                ITransfer* transfer = found->second;
                // Out at once, so its connection serves the next request; its owner's Remove
                // then finds nothing to do.
                m_transfers.erase(found);
                curl_multi_remove_handle(multi, message->easy_handle);
                transfer->Done(message->data.result);
            }
        }
        for (const auto& [easy, transfer] : m_transfers) {
            transfer->AfterWork();
        }
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
    for (const auto& [easy, transfer] : m_transfers) {
        curl_multi_remove_handle(multi, static_cast<CURL*>(easy));
    }
    m_transfers.clear();
}
