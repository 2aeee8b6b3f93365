#pragma once
// One connection to a broker through the MQTT client library, used by one thread: the
// publisher's. Every call and every event happens on that thread, inside Loop. Builds
// where the library is missing too, and then says so from Setup.

#include <string>

#include "mqtt/MqttEndpoint.h"

class IMqttEvents {
public:
    // The broker's answer to a connection: 0 accepted, else its refusal code.
    virtual void OnConnected(int code) = 0;
    // A QoS 1 message the broker has acknowledged.
    virtual void OnPublished(int mid) = 0;
    virtual void OnMessage(const char* topic, const void* payload, int length) = 0;

protected:
    ~IMqttEvents() = default;
};

class CMqttConnection {
public:
    explicit CMqttConnection(IMqttEvents& events);
    ~CMqttConnection();
    CMqttConnection(const CMqttConnection&) = delete;
    CMqttConnection& operator=(const CMqttConnection&) = delete;

    // Prepares the client: credentials, TLS with the CA file (or the system's store).
    // False with the reason for what no retry can mend (no library, an unreadable CA file).
    bool Setup(const MqttEndpoint& endpoint, const std::string& caFile, const std::string& clientId,
               std::string& error);
    // The message the broker sends when the connection dies; used from the next Connect.
    bool SetWill(const std::string& topic, const std::string& payload);
    // Opens the connection (the broker answers later, in Loop); false with the reason.
    // Messages still unacknowledged from a lost connection go again after it.
    bool Connect(std::string& error);
    // Serves the connection for up to timeoutMs; false with the reason once it is lost.
    bool Loop(int timeoutMs, std::string& error);
    // QoS 0 or 1; mid gets the message's number. False when the message was not taken
    // (a QoS 1 message taken while the line is down goes when it is back).
    bool Publish(const std::string& topic, const std::string& payload, int qos, bool retain, int* mid);
    bool Subscribe(const std::string& topic);
    // A clean end: no will.
    void Disconnect();
    // The text of a refusal code of OnConnected.
    static std::string RefusalText(int code);

private:
    IMqttEvents& m_events;
    void* m_pClient = nullptr;
    bool m_bConnectedOnce = false;
    std::string m_strHost;
    int m_nPort = 0;
};
