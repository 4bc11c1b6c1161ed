#include "framework/NetDevice.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include <ace/INET_Addr.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/SOCK_Connector.h>

#include "framework/CrashDump.h"
#include "framework/LeadingInteger.h"
#include "framework/Log.h"

namespace Ombrix {

namespace {

// An accept thread wakes this often to look at the running flag even if nobody connects;
// shutting the device down wakes it at once.
const ACE_Time_Value kAcceptWakeUp(3600, 1000000);
// How long an accept thread waits before it tries again after a failure that is not a
// time-out; a shut-down waits at most this long for it.
constexpr std::chrono::milliseconds kAcceptRetryPause(100);

const char kPeerAddressKey[] = "/netcircuit/extinfo/ip";

void LogError(const char* message) {
    try {
        Log::Instance().Error(message);
    } catch (...) {
        // The log is gone (process exit): nowhere left to report to.
    }
}

// The numeric address of the peer, without the port.
std::string PeerAddressText(const ACE_INET_Addr& peer) {
    char text[260] = {};
    if (peer.addr_to_string(text, sizeof text, 1) != 0) {
        return std::string();
    }
    std::string result(text);
    return result.substr(0, result.find(':'));
}

void SetError(int* error, int value) {
    if (error != nullptr) {
        *error = value;
    }
}

}  // namespace

void CloseStream::operator()(ACE_SOCK_Stream* stream) const noexcept {
    if (stream != nullptr) {
        stream->close();
        delete stream;
    }
}

_NetServerInfo::_NetServerInfo(unsigned short port) : m_port(port) {}

_NetServerInfo::~_NetServerInfo() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bStop = true;
        // Shutting the listening socket down ends a waiting accept at once; the accept
        // thread itself closes the socket, so its handle is never reused under it.
        if (m_acceptor.get_handle() != ACE_INVALID_HANDLE) {
            ::shutdown(m_acceptor.get_handle(), SHUT_RDWR);
        }
    }
    if (m_bThreadStarted) {
        ACE_Thread::join(m_hThread);
    }
}

NetDevice::~NetDevice() = default;  // m_servers stops the accept threads as it goes

std::unique_ptr<CircuitInterface> NetDevice::CreateCircuit(std::string address, int mode,
                                                           int* error,
                                                           const ACE_Time_Value* timeout) {
    if (mode == 1) {
        return Connect(address, error);
    }
    return Listen(address, error, timeout);
}

std::unique_ptr<CircuitInterface> NetDevice::Connect(const std::string& address, int* error) {
    std::string host = address;
    std::string portText = "80";
    const std::string::size_type colon = address.find(':');
    if (colon == 0) {
        host.clear();
    } else if (colon != std::string::npos) {
        host = address.substr(0, colon);
        portText = address.substr(colon + 1);
    }
    const long port = LeadingInteger(portText);
    if (port < 0 || port >= 65535) {
        SetError(error, 3);
        return nullptr;
    }

    OwnedStream stream(new ACE_SOCK_Stream);
    SetError(error, kOk);
    ACE_INET_Addr remote;
    // An empty host names nothing; the resolver is not asked for it.
    const bool resolved =
        !host.empty() && remote.set(static_cast<u_short>(port), host.c_str()) == 0;
    ACE_SOCK_Connector connector;
    if (!resolved || connector.connect(*stream, remote, nullptr, ACE_Addr::sap_any, 0) != 0) {
        SetError(error, kRefused);
    }
    return std::make_unique<NetCircuit>(std::move(stream));
}

std::unique_ptr<CircuitInterface> NetDevice::Listen(const std::string& address, int* error,
                                                    const ACE_Time_Value* timeout) {
    const unsigned long port = static_cast<unsigned long>(LeadingInteger(address)) & 0xFFFF;
    if (port == 65535) {
        SetError(error, 3);
        return nullptr;
    }
    _NetServerInfo& server = ServerFor(static_cast<unsigned short>(port));
    const ACE_Time_Value deadline =
        ACE_OS::gettimeofday() + (timeout != nullptr ? *timeout : ACE_Time_Value::zero);
    std::unique_ptr<_NetInfo> accepted = server.m_queue.Pop(timeout);
    // A wait can end for a connection that another caller took: wait on for the rest of
    // the time, so that a caller is not turned away early because others wait on the port.
    while (!accepted && timeout != nullptr) {
        const ACE_Time_Value left = deadline - ACE_OS::gettimeofday();
        if (left <= ACE_Time_Value::zero) {
            break;
        }
        accepted = server.m_queue.Pop(&left);
    }
    if (!accepted) {
        SetError(error, kRefused);
        return nullptr;
    }
    SetError(error, kOk);
    auto circuit = std::make_unique<NetCircuit>(std::move(accepted->m_stream));
    auto peer = std::make_unique<_InfoItem>();
    peer->m_strText = accepted->m_ip;
    circuit->SetInfo(kPeerAddressKey, std::move(peer));
    return circuit;
}

_NetServerInfo& NetDevice::ServerFor(unsigned short port) {
    // Look-up and creation form one step, so two first requests for a port at once make
    // one listening record and one accept thread.
    Lockable::Lock guard(*this);
    if (_NetServerInfo* existing = m_servers.Get(port)) {
        return *existing;
    }
    auto server = std::make_unique<_NetServerInfo>(port);
    _NetServerInfo* raw = server.get();
    raw->m_bThreadStarted =
        ACE_Thread::spawn(&NetDevice::ProcThread, raw, 0, nullptr, &raw->m_hThread, 1) == 0;
    m_servers.Set(port, std::move(server));
    return *raw;
}

ACE_THR_FUNC_RETURN NetDevice::ProcThread(void* server) {
    AlternateSignalStack signalStack;
    try {
        Accept(*static_cast<_NetServerInfo*>(server));
    } catch (...) {
        LogError("NetDevice::ProcThread Accept function exception");
    }
    return 0;
}

void NetDevice::Accept(_NetServerInfo& server) {
    {
        std::lock_guard<std::mutex> guard(server.m_lock);
        if (server.m_bStop) {
            return;
        }
        const ACE_INET_Addr local(static_cast<u_short>(server.m_port));
        if (server.m_acceptor.open(local, 0, PF_UNSPEC, 0x7FFFFFFF, 0) != 0) {
            server.m_acceptor.close();
            LogError("acceptor.open fail");
            return;
        }
    }
    auto stopping = [&server] {
        std::lock_guard<std::mutex> guard(server.m_lock);
        return server.m_bStop || !g_running;
    };
    while (!stopping()) {
        try {
            OwnedStream stream(new ACE_SOCK_Stream);
            ACE_INET_Addr peer;
            ACE_Time_Value limit = kAcceptWakeUp;
            if (server.m_acceptor.accept(*stream, &peer, &limit) != 0) {
                // A time-out, or the device is shutting down: the flags say which. Any other
                // failure (no descriptor left for the new connection, no memory) comes back
                // at once on every try while the client waits in the backlog: pause so that
                // the thread does not spin until it clears.
                const int error = errno;
                if (error != ETIME && error != EINTR && !stopping()) {
                    std::this_thread::sleep_for(kAcceptRetryPause);
                }
                continue;
            }
            if (stopping()) {
                break;  // the connection is closed with the stream
            }
            auto accepted = std::make_unique<_NetInfo>();
            accepted->m_ip = PeerAddressText(peer);
            accepted->m_stream = std::move(stream);
            server.m_queue.Push(std::move(accepted));
        } catch (...) {
            LogError("NetDevice::Accept throw exception!");
        }
    }
    std::lock_guard<std::mutex> guard(server.m_lock);
    server.m_acceptor.close();
}

NetCircuit::NetCircuit(OwnedStream stream) : m_stream(std::move(stream)) {}

int NetCircuit::Read(void* buffer, int length, const ACE_Time_Value* timeout) {
    if (!m_stream) {
        return 0;
    }
    // A connection that never came about fails at once instead of waiting out the limit.
    if (buffer == nullptr || length < 0 || m_stream->get_handle() == ACE_INVALID_HANDLE) {
        return -1;
    }
    return static_cast<int>(m_stream->recv(buffer, static_cast<size_t>(length), timeout));
}

int NetCircuit::Write(void* buffer, int length, const ACE_Time_Value* timeout) {
    if (!m_stream || buffer == nullptr || length < 0) {
        return kRefused;
    }
    if (m_stream->get_handle() != ACE_INVALID_HANDLE) {
        m_stream->send_n(buffer, static_cast<size_t>(length), MSG_NOSIGNAL, timeout);
    }
    return kOk;
}

_InfoItem* NetCircuit::GetInfo(std::string key) {
    return m_info.Get(std::move(key));
}

int NetCircuit::SetInfo(std::string key, std::unique_ptr<_InfoItem> item) {
    return m_info.Set(std::move(key), std::move(item));
}

}  // namespace Ombrix
