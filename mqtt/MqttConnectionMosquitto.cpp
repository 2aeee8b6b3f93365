#include "mqtt/MqttConnection.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

namespace {

constexpr int KEEP_ALIVE_SECONDS = 30;

mosquitto* Client(void* p)
{
    return static_cast<mosquitto*>(p);
}

std::string ErrorText(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(rc);
}

}   // namespace

CMqttConnection::CMqttConnection(IMqttEvents& events) : m_events(events)
{
    static std::once_flag once;
    // Process-wide set-up of the library (and of its TLS); its result is always success.
    std::call_once(once, [] { mosquitto_lib_init(); });
}

CMqttConnection::~CMqttConnection()
{
    if (m_pClient != nullptr)
        mosquitto_destroy(Client(m_pClient));
}

bool CMqttConnection::Setup(const MqttEndpoint& endpoint, const std::string& caFile,
                            const std::string& clientId, std::string& error)
{
    // Set up again (the window's new choices): a client of its own for the new address.
    if (m_pClient != nullptr)
        mosquitto_destroy(Client(m_pClient));
    m_pClient = nullptr;
    m_bConnectedOnce = false;
    mosquitto* client = mosquitto_new(clientId.c_str(), true, &m_events);
    if (client == nullptr) {
        error = "cannot make an MQTT client: " + std::string(std::strerror(errno));
        return false;
    }
    m_pClient = client;
    m_strHost = endpoint.strHost;
    m_nPort = endpoint.nPort;
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(
        client, [](mosquitto*, void* obj, int code) { static_cast<IMqttEvents*>(obj)->OnConnected(code); });
    mosquitto_publish_callback_set(
        client, [](mosquitto*, void* obj, int mid) { static_cast<IMqttEvents*>(obj)->OnPublished(mid); });
    mosquitto_message_callback_set(client, [](mosquitto*, void* obj, const mosquitto_message* msg) {
        static_cast<IMqttEvents*>(obj)->OnMessage(msg->topic, msg->payload, msg->payloadlen);
    });
    // Unacknowledged messages are ours to limit (the publisher keeps a window of them):
    // the library must not hold any back on its own.
    mosquitto_max_inflight_messages_set(client, 0);
    if (!endpoint.strUser.empty()) {
        const int rc = mosquitto_username_pw_set(
            client, endpoint.strUser.c_str(), endpoint.bHasPassword ? endpoint.strPassword.c_str() : nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "the user name cannot be used: " + ErrorText(rc);
            return false;
        }
    }
    if (!endpoint.bTls)
        return true;
    if (caFile.empty()) {
        mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        return true;
    }
    // The library would only find out at the first connection, and say less.
    if (!std::ifstream(caFile)) {
        error = "cannot read the CA file " + caFile;
        return false;
    }
    const int rc = mosquitto_tls_set(client, caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "the CA file " + caFile + " cannot be used: " + ErrorText(rc);
        return false;
    }
    return true;
}

bool CMqttConnection::SetWill(const std::string& topic, const std::string& payload)
{
    return mosquitto_will_set(Client(m_pClient), topic.c_str(), static_cast<int>(payload.size()),
                              payload.data(), 1, true) == MOSQ_ERR_SUCCESS;
}

bool CMqttConnection::Connect(std::string& error)
{
    mosquitto* client = Client(m_pClient);
    const int rc = m_bConnectedOnce
                       ? mosquitto_reconnect(client)
                       : mosquitto_connect(client, m_strHost.c_str(), m_nPort, KEEP_ALIVE_SECONDS);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = ErrorText(rc);
        return false;
    }
    m_bConnectedOnce = true;
    return true;
}

bool CMqttConnection::Loop(int timeoutMs, std::string& error)
{
    const int rc = mosquitto_loop(Client(m_pClient), timeoutMs, 1);
    if (rc == MOSQ_ERR_SUCCESS)
        return true;
    error = ErrorText(rc);
    return false;
}

bool CMqttConnection::Publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                              int* mid)
{
    const int rc = mosquitto_publish(Client(m_pClient), mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), qos, retain);
    // A QoS 1 message is kept by the library before it tries the line.
    return rc == MOSQ_ERR_SUCCESS ||
           (qos > 0 && (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO));
}

bool CMqttConnection::Subscribe(const std::string& topic)
{
    return mosquitto_subscribe(Client(m_pClient), nullptr, topic.c_str(), 1) == MOSQ_ERR_SUCCESS;
}

void CMqttConnection::Disconnect()
{
    // Already gone is as good as disconnected.
    mosquitto_disconnect(Client(m_pClient));
}

std::string CMqttConnection::RefusalText(int code)
{
    return mosquitto_connack_string(code);
}
