#pragma once
// The window's File > "Publish to MQTT...": the choices asked in a dialog and kept with
// the settings, the publisher running while they say so, its state for the status bar,
// and node commands from the broker sent as the window would send them.

#include <wx/event.h>

#include <functional>
#include <string>

#include "mqtt/MqttPublisher.h"

class CDongleLink;
class CPublishSettings;
class wxMenu;
class wxWindow;

class CMqttPublishing : public wxEvtHandler, private IMqttReport, private IMqttCommandNotify {
public:
    // Below 32767, which the toolkit refuses for menu items, and apart from the template's ids.
    static constexpr int ID_PUBLISH_MQTT = 0x6F00;

    CMqttPublishing();
    // Stops publishing; the engine must no longer tap lines into it by then.
    ~CMqttPublishing() override;

    // Adds the menu entry to file and starts publishing when the stored choices say so.
    // portName gives the name topics use until the dongle's address is known.
    void Attach(wxWindow* owner, wxMenu* file, CDongleLink* link, std::function<std::string()> portName);
    // The dialog; on OK the choices are stored and take effect.
    void OnPublishToMqtt(wxCommandEvent& event);
    // Starts or stops publishing as the choices say; false with the reason when they
    // cannot work (publishing then stays off).
    bool Apply(const CPublishSettings& settings, std::string& error);
    CMqttPublisher& Publisher() { return m_publisher; }
    // "MQTT: connected to host:port" and the like; empty while not publishing.
    std::string StatusText();

private:
    void MqttReport(const char* text) override;
    void PostCommandReady() override;
    void OnCommands(wxThreadEvent& event);

    CMqttPublisher m_publisher;
    wxWindow* m_pOwner = nullptr;
    CDongleLink* m_pLink = nullptr;
    std::function<std::string()> m_portName;
};
