#include "app/MqttPublishing.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/settings/PublishSettings.h"
#include "link/DongleLink.h"
#include "res/Resources.h"
#include "tools/CaptureCommands.h"

namespace {

wxDEFINE_EVENT(EVT_MQTT_COMMANDS, wxThreadEvent);

// The dialog of the menu entry, filled from and read back into the choices.
class CPublishDlg : public wxDialog {
public:
    CPublishDlg(wxWindow* parent, const CPublishSettings& s)
        : wxDialog(parent, wxID_ANY, "Publish to MQTT", wxDefaultPosition, wxDefaultSize,
                   wxDEFAULT_DIALOG_STYLE, "PublishDlg")
    {
        auto* column = new wxBoxSizer(wxVERTICAL);
        m_publish = new wxCheckBox(this, wxID_ANY, "Publish every log line to an MQTT broker");
        m_broker = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(s.m_strBroker), wxDefaultPosition,
                                  wxSize(360, -1));
        m_topic = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(s.m_strTopic));
        m_commands = new wxCheckBox(this, wxID_ANY, "Take node commands from PREFIX/<dongle>/cmd");
        m_publish->SetValue(s.m_bPublish);
        m_commands->SetValue(s.m_bCommands);
        m_broker->SetHint("mqtt://[user@]host[:port] or mqtts://");
        column->Add(m_publish, 0, wxALL, 8);
        column->Add(
            new wxStaticText(this, wxID_ANY, "Broker (the password, if any, from TESSARIN_MQTT_PASSWORD):"),
            0, wxLEFT | wxRIGHT, 8);
        column->Add(m_broker, 0, wxEXPAND | wxALL, 8);
        column->Add(new wxStaticText(this, wxID_ANY, "Topic prefix:"), 0, wxLEFT | wxRIGHT, 8);
        column->Add(m_topic, 0, wxEXPAND | wxALL, 8);
        column->Add(m_commands, 0, wxALL, 8);
        column->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 8);
        SetSizerAndFit(column);
    }

    void Read(CPublishSettings& s) const
    {
        s.m_bPublish = m_publish->GetValue();
        s.m_strBroker = m_broker->GetValue().utf8_string();
        s.m_strTopic = m_topic->GetValue().utf8_string();
        s.m_bCommands = m_commands->GetValue();
    }

private:
    wxCheckBox* m_publish;
    wxTextCtrl* m_broker;
    wxTextCtrl* m_topic;
    wxCheckBox* m_commands;
};

}   // namespace

CMqttPublishing::CMqttPublishing()
{
    Bind(EVT_MQTT_COMMANDS, &CMqttPublishing::OnCommands, this);
}

CMqttPublishing::~CMqttPublishing()
{
    // Its thread posts to this handler: it ends before the handler does.
    m_publisher.Stop();
}

void CMqttPublishing::Attach(wxWindow* owner, wxMenu* file, CDongleLink* link,
                             std::function<std::string()> portName)
{
    if (m_pOwner != nullptr)
        return;   // the window's initialisation ran again: the entry is there
    m_pOwner = owner;
    m_pLink = link;
    m_portName = std::move(portName);
    // With the log file's entries, above Quit and its separator.
    size_t at = file->GetMenuItemCount();
    if (file->FindChildItem(MenuItemId(ID_QUIT), &at) && at > 0)
        --at;
    file->Insert(at, ID_PUBLISH_MQTT, "Publish to MQTT...");
    owner->Bind(wxEVT_MENU, &CMqttPublishing::OnPublishToMqtt, this, ID_PUBLISH_MQTT);
    CPublishSettings settings;
    settings.Load();
    std::string error;
    // Stored choices that no longer work wait for the user to open the dialog: no box at start.
    if (settings.m_bPublish && !Apply(settings, error))
        MqttReport(error.c_str());
}

void CMqttPublishing::OnPublishToMqtt(wxCommandEvent&)
{
    CPublishSettings settings;
    settings.Load();
    CPublishDlg dialog(m_pOwner, settings);
    for (;;) {
        if (dialog.ShowModal() != wxID_OK)
            return;
        dialog.Read(settings);
        std::string error;
        if (Apply(settings, error))
            break;
        // The dialog stays open for the mistake to be mended.
        wxMessageBox(wxString::FromUTF8(error), "Invalid MQTT settings", wxOK | wxICON_EXCLAMATION, m_pOwner);
    }
    if (!settings.Save())
        wxMessageBox("Not able to save the MQTT settings", wxTheApp ? wxTheApp->GetAppName() : "",
                     wxOK | wxICON_EXCLAMATION, m_pOwner);
}

bool CMqttPublishing::Apply(const CPublishSettings& choices, std::string& error)
{
    MqttSettings settings;
    settings.strPrefix = choices.m_strTopic;
    settings.bCommands = choices.m_bCommands;
    settings.strPortName = m_portName ? m_portName() : "";
    if (settings.strPortName.empty())
        settings.strPortName = "window";
    if (choices.m_bPublish && (!ParseMqttUrl(choices.m_strBroker, settings.endpoint, error) ||
                               !TakeMqttPassword(settings.endpoint, "", error))) {
        return false;
    }
    if (choices.m_bPublish && !IsValidTopicPrefix(settings.strPrefix)) {
        error = "The topic prefix is one or more topic levels without + or #, not beginning or ending with /";
        return false;
    }
    if (m_pLink != nullptr)
        m_pLink->SetLineTap(nullptr);
    m_publisher.Stop();
    if (!choices.m_bPublish)
        return true;
    if (!m_publisher.Start(settings, this, this, error))
        return false;
    if (m_pLink != nullptr)
        m_pLink->SetLineTap(&m_publisher);
    return true;
}

void CMqttPublishing::MqttReport(const char*)
{
    // The status bar shows the state at its next tick; a dialog per change would pile up
    // while a broker comes and goes.
}

void CMqttPublishing::PostCommandReady()
{
    wxQueueEvent(this, new wxThreadEvent(EVT_MQTT_COMMANDS));
}

void CMqttPublishing::OnCommands(wxThreadEvent&)
{
    std::string line;
    while (m_publisher.TakeCommand(line)) {
        DongleMessage msg;
        std::string error;
        switch (ParseCaptureCommand(line, msg, error)) {
        case CaptureCommand::SEND:
            if (m_pLink == nullptr || !m_pLink->SendDongleMessage(msg))
                m_publisher.PublishCommandError(line, "not sent: no capture is running");
            break;
        case CaptureCommand::INVALID:
            m_publisher.PublishCommandError(line, error);
            break;
        case CaptureCommand::HELP:
        case CaptureCommand::QUIT:
            m_publisher.PublishCommandError(line, "the window takes node commands only");
            break;
        case CaptureCommand::NONE:
            break;
        }
    }
}

std::string CMqttPublishing::StatusText()
{
    return m_publisher.IsRunning() ? "MQTT: " + m_publisher.StateText() : "";
}
