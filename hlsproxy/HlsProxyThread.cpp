#include "hlsproxy/HlsProxyThread.h"

#include "hlsproxy/HlsProxyServer.h"

HlsProxyThread::HlsProxyThread()
    : m_thread(std::make_unique<QThread>())
    , m_context(std::make_unique<QObject>())
    , m_server(new HlsProxyServer)
{
    m_thread->setObjectName(QStringLiteral("Quorin HLS proxy"));
    m_context->moveToThread(m_thread.get());
    m_server->moveToThread(m_thread.get());
    m_thread->start(QThread::InheritPriority);

    HlsProxyServer *server = m_server;
    QMetaObject::invokeMethod(
        m_context.get(), [server] { server->startListening(); }, Qt::BlockingQueuedConnection);
}

HlsProxyThread::~HlsProxyThread()
{
    if (m_thread->isRunning()) {
        // The server's sockets, timers and connections belong to the proxy thread; deleting them
        // anywhere else makes Qt warn and leaves their notifiers behind.
        QMetaObject::invokeMethod(
            m_context.get(),
            [this] {
                delete m_server;
                m_server = nullptr;
            },
            Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
    }
    // A server whose thread is not running cannot be deleted safely anywhere; it is left alone.
}
