#include "mqtt/MqttConnection.h"

// Where the client library is missing (the Windows cross-build), a connection is never made.

CMqttConnection::CMqttConnection(IMqttEvents& events) : m_events(events) {}

CMqttConnection::~CMqttConnection() = default;

bool CMqttConnection::Setup(const MqttEndpoint&, const std::string&, const std::string&, std::string& error)
{
    error = "this build has no MQTT client";
    return false;
}

bool CMqttConnection::SetWill(const std::string&, const std::string&)
{
    return false;
}

bool CMqttConnection::Connect(std::string& error)
{
    error = "this build has no MQTT client";
    return false;
}

bool CMqttConnection::Loop(int, std::string& error)
{
    error = "this build has no MQTT client";
    return false;
}

bool CMqttConnection::Publish(const std::string&, const std::string&, int, bool, int*)
{
    return false;
}

bool CMqttConnection::Subscribe(const std::string&)
{
    return false;
}

void CMqttConnection::Disconnect() {}

std::string CMqttConnection::RefusalText(int code)
{
    return "refused (" + std::to_string(code) + ")";
}
