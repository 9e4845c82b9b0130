#pragma once

#include <QObject>
#include <QThread>
#include <memory>

class HlsProxyServer;

// Holds the proxy server on a thread of its own, named "Quorin HLS proxy". Constructing it starts
// the thread and returns once the server has tried to listen; destroying it deletes the server on
// that thread, then stops the thread and waits for it without a deadline. HlsProxyServer::instance()
// keeps the process-wide one; tests make their own.
class HlsProxyThread
{
public:
    HlsProxyThread();
    ~HlsProxyThread();
    HlsProxyThread(const HlsProxyThread &) = delete;
    HlsProxyThread &operator=(const HlsProxyThread &) = delete;

    [[nodiscard]] HlsProxyServer *server() const { return m_server; }

private:
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<QObject> m_context; // lives on the proxy thread: the context of calls into it
    HlsProxyServer *m_server = nullptr; // deleted on the proxy thread
};
