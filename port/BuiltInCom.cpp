// The built-in interface "COM port(Build In)": its entry and the two tables, all acting on the
// one clPortComm of the host.
#include "base/MessageTable.h"
#include "base/SimpleLog.h"
#include "platform/IniProfile.h"
#include "platform/NetAddress.h"
#include "platform/Text.h"
#include "port/PortComm.h"

#include <cstring>

namespace {

constexpr size_t kMaxPortNameChars = 500;

PortParamBlock* g_params = nullptr;

std::u16string SettingsPath() {
    return g_params && g_params->settingsFilePath ? g_params->settingsFilePath : u"";
}
std::u16string ChannelSection() {
    return g_params && g_params->channelSectionName ? g_params->channelSectionName : u"";
}
std::u16string Text(const char16_t* s) {
    return s ? s : u"";
}

// ---- InterfaceTable

int32_t Check() {
    return 1;
}

const char16_t* GetInterfaceName() {
    return clPortComm::kSection;
}

int32_t SettingDialog() {
    clPortComm& port = BuiltInComPort();
    const std::u16string ini = SettingsPath();
    const std::u16string channel = ChannelSection();
    ComPortParams edited = port.params;
    int32_t result = 2;
    if (VorlixSettingDlgExW(ini.c_str(), channel.c_str(), port.identity.portName.c_str(), &edited,
                            &result, 0) != 0 ||
        result != 1)
        return 0;
    int32_t index = -1;
    VorlixGetLastSelect(&index);
    const char16_t* name = VorlixGetPortNameW(index);
    if (!name)
        return 0;
    port.params = edited;
    port.identity.index = index;
    port.identity.portName = name;
    port.identity.devicePath = Text(VorlixGetFileNameW(index));
    port.identity.description = Text(VorlixGetDescriptionW(index));
    platform::WriteSetting(channel, u"COM Port Name", port.identity.portName, ini);
    VorlixSaveCOMportParaW(ini.c_str(), port.identity.portName.c_str(), &port.params);
    return 1;
}

const char16_t* GetPortName() {
    return BuiltInComPort().identity.portName.c_str();
}

const char16_t* GetPortDescription() {
    return BuiltInComPort().identity.description.c_str();
}

// ---- PortOpTable

int32_t OpInit() {
    return BuiltInComPort().Init();
}
void OpUninit() {
    BuiltInComPort().Uninit();
}
int32_t OpConnect() {
    clPortComm& port = BuiltInComPort();
    if (g_params)
        port.SetSendTimeout(g_params->sendTimeout);
    return port.Connect();
}
void OpDisconnect() {
    BuiltInComPort().Disconnect();
}
int32_t OpSendData(const uint8_t* bytes, uint32_t length) {
    return BuiltInComPort().SendData(bytes, length);
}
int32_t OpSetReceiveCallback(ReceiveCallback cb, void* user) {
    return BuiltInComPort().SetReceiveCallback(cb, user);
}
int32_t OpSetSendTimeout(int32_t ms) {
    return BuiltInComPort().SetSendTimeout(ms);
}
int32_t OpGetSendTimeout(int32_t* ms) {
    return BuiltInComPort().GetSendTimeout(ms);
}
int32_t OpIsConnected() {
    return BuiltInComPort().IsConnected();
}
uint32_t OpGetBaudRate() {
    return BuiltInComPort().GetBaudRate();
}

PortOpTable g_opTable = {OpInit,           OpUninit,         OpConnect,
                         OpDisconnect,     OpSendData,       OpSetReceiveCallback,
                         OpSetSendTimeout, OpGetSendTimeout, OpIsConnected,
                         OpGetBaudRate};

PortOpTable* GetSelectedPortIF() {
    clPortComm& port = BuiltInComPort();
    const std::u16string ini = SettingsPath();
    const int32_t index = VorlixGetIndexW(port.identity.portName.c_str());
    port.identity.index = index;
    if (index == -1) {
        if (port.identity.portName != kNoSettings)
            port.WriteLog(u"COMport Lost..");
        port.identity.portName = kNoSettings;
        port.identity.description.clear();
    } else {
        port.identity.description = Text(VorlixGetDescriptionW(index));
    }
    VorlixLoadCOMportParaW(ini.c_str(), port.identity.portName.c_str(), &port.params);
    port.identity.devicePath = Text(VorlixGetFileNameW(index));
    return &g_opTable;
}

InterfaceTable g_interfaceTable = {Check,       GetInterfaceName,  SettingDialog,
                                   GetPortName, GetSelectedPortIF, GetPortDescription};

} // namespace

PortReasonInfo BuiltInComPortReason() {
    if (PortReasonInfo net = BuiltInComPort().NetworkReason(); net.kind != PORT_REASON_NONE)
        return net;
    const platform::DeviceProblem problem = BuiltInComPort().LastProblem();
    PortReasonInfo info;
    info.name = platform::Utf8ToUtf16(problem.device);
    switch (problem.kind) {
    case platform::DeviceRefusal::None:
        return {};
    case platform::DeviceRefusal::Missing:
        info.kind = PORT_REASON_DEVICE_MISSING;
        break;
    case platform::DeviceRefusal::Busy:
        info.kind = PORT_REASON_DEVICE_BUSY;
        break;
    case platform::DeviceRefusal::Permission:
        info.kind = PORT_REASON_NO_PERMISSION;
        info.number = problem.groupMayOpen ? PORT_PERMISSION_GROUP : PORT_PERMISSION_OWNER;
        info.detail = platform::Utf8ToUtf16(problem.groupMayOpen ? problem.group : problem.owner);
        break;
    case platform::DeviceRefusal::Other:
        info.kind = PORT_REASON_DEVICE_REFUSED;
        info.detail = platform::LocaleToUtf16(std::strerror(problem.error));
        break;
    }
    return info;
}

int32_t GetBuiltInComPortReason(PortReason* reason) {
    if (!reason || reason->structSize < sizeof(PortReason))
        return PORT_INVALID_ARGUMENT;
    static PortReasonInfo held; // the texts handed out stay valid until the next call
    held = BuiltInComPortReason();
    FillPortReason(held, reason);
    return 0;
}

bool ChooseBuiltInPort(const std::u16string& text, PortIdentity& identity, std::string& message) {
    const std::string utf8 = platform::Utf16ToUtf8(text);
    const int32_t index = VorlixGetIndexW(text.c_str());
    if (index >= 0) {
        identity.index = index;
        identity.portName = text;
        identity.devicePath = Text(VorlixGetFileNameW(index));
        return true;
    }
    platform::NetAddress address;
    const platform::NetAddressError error = platform::ParseNetAddress(utf8, address);
    if (error != platform::NetAddressError::None &&
        error != platform::NetAddressError::NotNetwork) {
        message = utf8 + ": " + platform::NetAddressErrorText(error);
        return false;
    }
    if (error == platform::NetAddressError::None || text.find(u'/') != std::u16string::npos) {
        identity.index = -1;
        identity.portName = VorlixPortNameOfPath(text);
        identity.devicePath = text;
        return true;
    }
    message = "no port \"" + utf8 + "\": no listed port name, device path or network address";
    return false;
}

clPortComm& BuiltInComPort() {
    static clPortComm port(&HostPortCtrl());
    return port;
}

clCamCtrl& HostPortCtrl() {
    static clCamCtrl ctrl;
    return ctrl;
}

InterfaceTable* GetBuiltInComInterface(PortParamBlock* params) {
    clPortComm& port = BuiltInComPort();
    // The block, the section, no port chosen.
    g_params = params;
    port.settingsSection = clPortComm::kSection;
    port.identity.Clear();
    const std::u16string ini = SettingsPath();
    if (port.owner)
        port.owner->settingsPath = ini;
    // The component, describing added devices in the user interface's language.
    VorlixSetAddedDeviceFormat(Msg(MSG_ADDED_DEVICE), Msg(MSG_ADDED_ADDRESS));
    VorlixInitW(ini.c_str());
    // The stored port choice.
    const std::u16string stored = platform::ReadSetting(ChannelSection(), u"COM Port Name",
                                                        kNoSettings, ini, kMaxPortNameChars);
    // Resolved against the ports present now.
    const int32_t index = VorlixGetIndexW(stored.c_str());
    port.identity.index = index;
    if (index == -1) {
        if (!stored.empty() && stored != kNoSettings)
            port.WriteLog(u"COMport Lost.");
        port.identity.portName = kNoSettings;
        port.identity.description.clear();
    } else {
        port.identity.portName = stored;
        port.identity.description = Text(VorlixGetDescriptionW(index));
    }
    // Parameters, device path, DTR flag.
    VorlixLoadCOMportParaW(ini.c_str(), port.identity.portName.c_str(), &port.params);
    port.identity.devicePath = Text(VorlixGetFileNameW(index));
    port.LoadSettings();
    return &g_interfaceTable;
}
