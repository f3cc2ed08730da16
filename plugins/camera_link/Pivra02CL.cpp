// The Camera Link plug-in module Pivra02CL: module start-up and end, the entry
// GetPivraInterfaceW, and the two function tables of the interface "Camera Link API".
// Nothing thrown leaves the entry or a table function: each one catches at its edge.
#include "base/MessageTable.h"
#include "base/SimpleLog.h"
#include "components/quastor/Quastor.h"
#include "platform/DataFolders.h"
#include "platform/IniProfile.h"
#include "platform/Module.h"
#include "platform/Text.h"
#include "plugins/camera_link/PortCameraLink.h"
#include "port/PortReason.h"
#include "port/PortTables.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#define PIVRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr char16_t kInterfaceName[] = u"Camera Link API";
constexpr uint32_t kPortNameChars = 500;

// The folder of this module file, with a trailing "/"; empty when it cannot be found.
std::string ModuleFolder() {
    static const int anchor = 0;
    return platform::ModuleFolderOf(&anchor);
}

// Whether the log file can be written: an existing one must open for appending, a missing
// one needs a writable folder. Nothing is created here.
bool LogWritable(const std::string& folder, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }
    return errno == ENOENT && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// Why the named library cannot be had; none for an empty name (nothing chosen yet).
PortReasonInfo LibraryReason(const char16_t* libraryName) {
    PortReasonInfo out;
    const std::u16string name(libraryName);
    if (name.empty())
        return out;
    std::string function;
    out.name = name;
    if (QuastorDiagnoseLibrary(name, &function) == QuastorLibraryProblem::FunctionMissing) {
        out.kind = PORT_REASON_FUNCTION_MISSING;
        out.detail = platform::Utf8ToUtf16(function);
    } else {
        out.kind = PORT_REASON_LIBRARY_MISSING;
    }
    return out;
}

// The module's application object: the module object (folder, log path, log), the owner
// context, the one port and the plug-in state.
class CPivra02CLApp {
public:
    CPivra02CLApp() {
        try {
            // Module folder, log path, log.
            moduleFolder = ModuleFolder();
            if (moduleFolder.empty())
                return;
            // Beside the module, or in the user's state folder when the module's is read-only.
            const std::string logFolder = platform::LogFolderFor(moduleFolder);
            logPath = logFolder + "Pivra02CL" + "Log.txt";
            if (!LogWritable(logFolder, logPath))
                return;
            log = std::make_unique<clSimpleLog>(logPath);
            // Owner context (the tables are static, below), then the plug-in state.
            ctrl.log = log.get();
            ResetState();
        } catch (...) {
            log.reset();
        }
    }
    ~CPivra02CLApp() {
        try {
            port.Disconnect();
            port.Uninit();
            port.library = nullptr;
            QuastorShutdown();
        } catch (...) {
        }
    }

    void ResetState() {
        params = nullptr;
        std::memset(&setting, 0, sizeof setting);
        setting.serialIndex = 0xFFFFFFFF;
        port.Reset();
        port.sendTimeout = clCamPort::kDefaultSendTimeout;
        port.readTimeout = clPortCameraLink::kDefaultTimeout;
        port.writeTimeout = clPortCameraLink::kDefaultTimeout;
        port.owner = &ctrl;
    }

    std::u16string SettingsPath() const { return ctrl.settingsPath; }
    std::u16string ChannelSection() const {
        return params && params->channelSectionName ? std::u16string(params->channelSectionName)
                                                    : std::u16string();
    }

    // Library record, port name, description and serial parameters of the setting record
    // as it stands (the entry's last look at the port, shared with GetSelectedPortIF).
    void Resolve(const char* lostLine1, const char* lostLine2) {
        CLLibraryRecord* lib = LirnoGetDLLStatW(&setting);
        std::u16string generated;
        if (lib) {
            char16_t buffer[kPortNameChars] = {};
            LirnoGenerateCLPortNameW(&setting, setting.serialIndex, buffer, kPortNameChars);
            generated = buffer;
            port.identity.portName = generated;
            port.identity.description =
                port.SerialPortIdentifier(static_cast<int32_t>(setting.serialIndex), lib);
        } else {
            const std::u16string name(setting.libraryName);
            if (!name.empty()) {
                char line[600];
                std::snprintf(line, sizeof line, lostLine1, platform::Utf16ToUtf8(name).c_str());
                log->Write(std::string_view(line));
                log->Write(std::string_view(lostLine2));
            }
            port.identity.portName = kNoSettings;
            port.identity.description.clear();
        }
        port.unavailable = lib ? PortReasonInfo{} : LibraryReason(setting.libraryName);
        port.reason = port.unavailable;
        const std::u16string path = SettingsPath();
        LirnoLoadCLSerParaW(path.c_str(), generated.c_str(), &port.serialParams);
        port.library = lib;
    }

    std::string moduleFolder;
    std::string logPath;
    std::unique_ptr<clSimpleLog> log;
    clCamCtrl ctrl;
    clPortCameraLink port{&ctrl};
    PortParamBlock* params = nullptr;
    CLSettingRecord setting{};
};

CPivra02CLApp g_plugin;

// ---- InterfaceTable ------------------------------------------------------------------------

int32_t Check() {
    return 1;
}

const char16_t* GetInterfaceName() {
    return kInterfaceName;
}

int32_t SettingDialog() {
    try {
        CPivra02CLApp& app = g_plugin;
        if (!app.log)
            return 0;
        const std::u16string path = app.SettingsPath(), section = app.ChannelSection();
        // The dialog works on copies, so a cancelled dialog changes nothing at all.
        CLSettingRecord record = app.setting;
        CLSerialParams serial = app.port.serialParams;
        int32_t result = 2;
        if (LirnoSettingDlgExW(path.c_str(), section.c_str(), &record, &serial, &result, 0) != 0 ||
            result != 1)
            return 0;
        LirnoGetLastSelectW(&record);
        app.setting = record;
        app.port.serialParams = serial;
        PortIdentity& id = app.port.identity;
        id.index = static_cast<int32_t>(record.serialIndex);
        char16_t buffer[kPortNameChars] = {};
        LirnoGenerateCLPortNameW(&record, record.serialIndex, buffer, kPortNameChars);
        id.portName = buffer;
        id.devicePath = record.libraryName;
        // Described by the library just chosen; the library in use changes only with the
        // next GetSelectedPortIF.
        id.description = app.port.SerialPortIdentifier(id.index, LirnoGetDLLStatW(&record));
        LirnoSaveCLSettingParaW(path.c_str(), section.c_str(), &record);
        LirnoSaveCLSerParaW(path.c_str(), id.portName.c_str(), &serial);
        return 1;
    } catch (...) {
        return 0;
    }
}

const char16_t* GetPortName() {
    return g_plugin.port.identity.portName.c_str();
}

const char16_t* GetPortDescription() {
    return g_plugin.port.identity.description.c_str();
}

// ---- PortOpTable ---------------------------------------------------------------------------

int32_t OpInit() {
    try {
        return g_plugin.port.Init();
    } catch (...) {
        return PORT_ERROR;
    }
}

void OpUninit() {
    try {
        g_plugin.port.Uninit();
    } catch (...) {
    }
}

int32_t OpConnect() {
    try {
        if (g_plugin.params)
            g_plugin.port.sendTimeout = g_plugin.params->sendTimeout;
        return g_plugin.port.Connect();
    } catch (...) {
        return PORT_ERROR;
    }
}

void OpDisconnect() {
    try {
        g_plugin.port.Disconnect();
    } catch (...) {
    }
}

int32_t OpSendData(const uint8_t* bytes, uint32_t length) {
    try {
        return g_plugin.port.SendData(bytes, length);
    } catch (...) {
        return PORT_ERROR;
    }
}

int32_t OpSetReceiveCallback(ReceiveCallback callback, void* user) {
    return g_plugin.port.SetReceiveCallback(callback, user);
}

int32_t OpSetSendTimeout(int32_t ms) {
    return g_plugin.port.SetSendTimeout(ms);
}

int32_t OpGetSendTimeout(int32_t* ms) {
    return g_plugin.port.GetSendTimeout(ms);
}

int32_t OpIsConnected() {
    return g_plugin.port.IsConnected();
}

uint32_t OpGetBaudRate() {
    return g_plugin.port.GetBaudRate();
}

PortOpTable g_portOpTable = {OpInit,           OpUninit,         OpConnect,
                             OpDisconnect,     OpSendData,       OpSetReceiveCallback,
                             OpSetSendTimeout, OpGetSendTimeout, OpIsConnected,
                             OpGetBaudRate};

PortOpTable* GetSelectedPortIF() {
    try {
        CPivra02CLApp& app = g_plugin;
        if (!app.log)
            return &g_portOpTable;
        // A connected port keeps its channel; only what it shows is refreshed.
        app.Resolve("Error in GetSelectedPortIF = %s", "CameraLink DLL Lost..");
        app.port.identity.devicePath = app.setting.libraryName;
        return &g_portOpTable;
    } catch (...) {
        return &g_portOpTable;
    }
}

InterfaceTable g_interfaceTable = {Check,       GetInterfaceName,  SettingDialog,
                                   GetPortName, GetSelectedPortIF, GetPortDescription};

} // namespace

// The reason beside the tables (see port/PortReason.h). The texts handed out stay valid until
// the next call.
PIVRA_EXPORT int32_t GetPivraPortReasonW(PortReason* out) {
    try {
        if (!out || out->structSize < sizeof(PortReason))
            return PORT_INVALID_ARGUMENT;
        static std::mutex lock;
        static PortReasonInfo handedOut;
        std::lock_guard<std::mutex> guard(lock);
        handedOut = g_plugin.port.reason;
        FillPortReason(handedOut, out);
        return 0;
    } catch (...) {
        return PORT_ERROR;
    }
}

PIVRA_EXPORT InterfaceTable* GetPivraInterfaceW(PortParamBlock* params) {
    try {
        CPivra02CLApp& app = g_plugin;
        // Without its log the module did no set-up: refuse rather than hand out a table.
        if (!app.log || !params)
            return nullptr;
        // The host's block, the settings file and section; no port chosen yet.
        app.params = params;
        app.ctrl.settingsPath = params->settingsFilePath ? params->settingsFilePath : u"";
        app.port.settingsSection = kInterfaceName;
        app.port.identity.Clear();
        const std::u16string path = app.SettingsPath(), section = app.ChannelSection();
        // The stored setting record and, from it, the chosen channel.
        LirnoInitW(path.c_str());
        LirnoLoadCLSettingParaW(path.c_str(), section.c_str(), &app.setting);
        app.port.identity.index = static_cast<int32_t>(app.setting.serialIndex);
        app.port.identity.devicePath = app.setting.libraryName;
        // The library, port name and line parameters of that channel.
        app.Resolve("Error in GetPivraInterface = %s ", "CameraLink DLL Lost.");
        app.port.LoadSettings();
        return &g_interfaceTable;
    } catch (...) {
        return nullptr;
    }
}
