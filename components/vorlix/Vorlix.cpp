#include "components/vorlix/Vorlix.h"

#include "platform/IniProfile.h"
#include "platform/NetAddress.h"
#include "platform/SerialDevice.h"
#include "platform/Text.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <limits.h>
#include <mutex>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr char16_t kComponentSection[] = u"Vorlix";
constexpr char16_t kAddedKey[] = u"Added Devices";
constexpr char16_t kParamSectionPrefix[] = u"Vorlix Port ";
constexpr char16_t kParamKeys[7][16] = {u"Baud Rate",     u"Data Bits",    u"Parity",
                                        u"Stop Bits",     u"Flow Control", u"Receive Queue",
                                        u"Transmit Queue"};
constexpr size_t kMaxAddedDevices = 64;
constexpr uint32_t kMaxQueue = 1u << 24;

constexpr char16_t kDefaultAddedFormat[] = u"added device %s";
constexpr char16_t kDefaultAddressFormat[] = u"added address %s";

struct State {
    std::mutex lock;
    std::u16string settingsPath;
    std::vector<VorlixPort> ports;
    int32_t lastSelect = -1;
    VorlixDialogHook hook = nullptr;
    std::string sysRoot = "/sys/class/tty";
    std::string byIdRoot = "/dev/serial/by-id";
    std::u16string addedFormat = kDefaultAddedFormat;
    std::u16string addressFormat = kDefaultAddressFormat;
};

State& S() {
    static State state;
    return state;
}

// The format with its "%s" replaced by the path.
std::u16string AddedDescription(const std::u16string& format, const std::u16string& path) {
    std::u16string text = format;
    const size_t at = text.find(u"%s");
    if (at != std::u16string::npos)
        text.replace(at, 2, path);
    return text;
}

// A well-formed tcp:// or rfc2217:// address.
bool IsNetwork(const std::u16string& path) {
    platform::NetAddress address;
    return platform::ParseNetAddress(platform::Utf16ToUtf8(path), address) ==
           platform::NetAddressError::None;
}

// What the list of added devices may hold: an absolute path or a network address, without the
// list's separator.
bool Addable(const std::u16string& item) {
    return !item.empty() && item.find(u';') == std::u16string::npos &&
           (item.front() == u'/' || IsNetwork(item));
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    if (!::realpath(path.c_str(), buf))
        return {};
    return buf;
}

std::vector<std::string> ListDir(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// by-id link names, keyed by the name of the device they point to ("../../ttyUSB0").
std::vector<std::pair<std::string, std::string>> ByIdNames(const std::string& root) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& name : ListDir(root)) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink((root + "/" + name).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        std::string t(target, static_cast<size_t>(n));
        out.emplace_back(t.substr(t.rfind('/') + 1), name);
    }
    return out;
}

// Lists the ports into state.ports; the caller holds the lock.
void ListPorts(State& st) {
    std::vector<VorlixPort> ports;
    const auto byId = ByIdNames(st.byIdRoot);
    for (const std::string& name : ListDir(st.sysRoot)) {
        const std::string base = st.sysRoot + "/" + name;
        std::string driver = RealPath(base + "/device/driver");
        if (driver.empty())
            continue; // virtual terminals and the like have no driver
        driver = driver.substr(driver.rfind('/') + 1);
        const std::string device = "/dev/" + name;
        std::string description;
        for (const auto& [target, link] : byId)
            if (target == name)
                description = link;
        if (description.empty())
            description = driver;
        ports.push_back({platform::Utf8ToUtf16(name), platform::Utf8ToUtf16(device),
                         platform::Utf8ToUtf16(description), false,
                         platform::SerialDeviceInUse(device)});
    }
    if (!st.settingsPath.empty()) {
        for (const std::u16string& path : VorlixLoadAddedDevices(st.settingsPath)) {
            // A server's address is always listed: whether it answers shows at Connect.
            const bool network = IsNetwork(path);
            struct stat sb {};
            if (!network && ::stat(platform::Utf16ToUtf8(path).c_str(), &sb) != 0)
                continue; // not there now: not listed
            std::u16string name = VorlixPortNameOfPath(path);
            bool dup = false;
            for (const VorlixPort& p : ports)
                dup = dup || p.name == name;
            if (dup)
                continue;
            if (network)
                ports.push_back(
                    {name, path, AddedDescription(st.addressFormat, path), true, false});
            else
                ports.push_back({name, path, AddedDescription(st.addedFormat, path), true,
                                 platform::SerialDeviceInUse(platform::Utf16ToUtf8(path))});
        }
    }
    st.ports = std::move(ports);
}

const char16_t* Field(int32_t index, std::u16string VorlixPort::*field) {
    State& st = S();
    std::lock_guard<std::mutex> g(st.lock);
    if (index < 0 || static_cast<size_t>(index) >= st.ports.size())
        return nullptr;
    return (st.ports[static_cast<size_t>(index)].*field).c_str();
}

ComPortParams LoadParams(const std::u16string& settingsPath, const std::u16string& portName) {
    ComPortParams p;
    if (portName.empty() || settingsPath.empty())
        return p;
    uint32_t* words = &p.baudRate;
    const std::u16string section = kParamSectionPrefix + portName;
    for (int i = 0; i < 7; ++i)
        words[i] = platform::ReadSettingInt(section, kParamKeys[i], words[i], settingsPath);
    return VorlixSanitize(p);
}

void Relist(VorlixDialogRequest& request) {
    State& st = S();
    std::u16string current;
    if (request.selected >= 0 && static_cast<size_t>(request.selected) < request.ports.size())
        current = request.ports[static_cast<size_t>(request.selected)].name;
    VorlixSaveAddedDevices(request.settingsPath, request.added);
    std::lock_guard<std::mutex> g(st.lock);
    ListPorts(st);
    request.ports = st.ports;
    request.selected = -1;
    for (size_t i = 0; i < request.ports.size(); ++i)
        if (request.ports[i].name == current)
            request.selected = static_cast<int32_t>(i);
}

speed_t SpeedOf(uint32_t baud) {
    static const std::pair<uint32_t, speed_t> kSpeeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000}};
    // The fastest standard rate not above the one asked for (termios knows no others).
    speed_t best = B9600;
    for (const auto& [rate, code] : kSpeeds)
        if (rate <= baud)
            best = code;
    return best;
}

} // namespace

void VorlixSetDialogHook(VorlixDialogHook hook) {
    State& st = S();
    std::lock_guard<std::mutex> g(st.lock);
    st.hook = hook;
}

void VorlixSetAddedDeviceFormat(const std::u16string& format, const std::u16string& addressFormat) {
    State& st = S();
    std::lock_guard<std::mutex> g(st.lock);
    st.addedFormat = format.empty() ? std::u16string(kDefaultAddedFormat) : format;
    st.addressFormat =
        addressFormat.empty() ? std::u16string(kDefaultAddressFormat) : addressFormat;
}

void VorlixSetScanRoots(const std::string& sysClassTty, const std::string& serialById) {
    State& st = S();
    std::lock_guard<std::mutex> g(st.lock);
    st.sysRoot = sysClassTty.empty() ? "/sys/class/tty" : sysClassTty;
    st.byIdRoot = serialById.empty() ? "/dev/serial/by-id" : serialById;
}

void VorlixInitW(const char16_t* settingsPath) {
    State& st = S();
    std::lock_guard<std::mutex> g(st.lock);
    st.settingsPath = settingsPath ? settingsPath : u"";
    st.lastSelect = -1;
    ListPorts(st);
}

int32_t VorlixGetIndexW(const char16_t* portName) {
    if (!portName || !*portName)
        return -1;
    State& st = S();
    std::lock_guard<std::mutex> g(st.lock);
    ListPorts(st);
    for (size_t i = 0; i < st.ports.size(); ++i)
        if (st.ports[i].name == portName)
            return static_cast<int32_t>(i);
    return -1;
}

const char16_t* VorlixGetPortNameW(int32_t index) {
    return Field(index, &VorlixPort::name);
}
const char16_t* VorlixGetFileNameW(int32_t index) {
    return Field(index, &VorlixPort::devicePath);
}
const char16_t* VorlixGetDescriptionW(int32_t index) {
    return Field(index, &VorlixPort::description);
}

void VorlixLoadCOMportParaW(const char16_t* settingsPath, const char16_t* portName,
                            ComPortParams* params) {
    if (!params)
        return;
    *params = LoadParams(settingsPath ? settingsPath : u"", portName ? portName : u"");
}

bool VorlixSaveCOMportParaW(const char16_t* settingsPath, const char16_t* portName,
                            const ComPortParams* params) {
    if (!settingsPath || !portName || !*portName || !params)
        return false;
    const ComPortParams p = VorlixSanitize(*params);
    const uint32_t* words = &p.baudRate;
    const std::u16string section = std::u16string(kParamSectionPrefix) + portName;
    bool ok = true;
    for (int i = 0; i < 7; ++i)
        ok =
            platform::WriteSetting(section, kParamKeys[i],
                                   platform::Utf8ToUtf16(std::to_string(words[i])), settingsPath) &&
            ok;
    return ok;
}

int32_t VorlixSettingDlgExW(const char16_t* settingsPath, const char16_t* /*channelSection*/,
                            const char16_t* currentPortName, ComPortParams* params, int32_t* result,
                            int32_t /*reserved*/) {
    if (!settingsPath || !params || !result)
        return 1;
    State& st = S();
    VorlixDialogRequest request;
    VorlixDialogHook hook;
    {
        std::lock_guard<std::mutex> g(st.lock);
        hook = st.hook;
        if (!hook)
            return 1;
        st.settingsPath = settingsPath;
        ListPorts(st);
        request.ports = st.ports;
    }
    request.settingsPath = settingsPath;
    request.added = VorlixLoadAddedDevices(settingsPath);
    request.loadParams = &LoadParams;
    request.relist = &Relist;
    const std::u16string current = currentPortName ? currentPortName : u"";
    for (size_t i = 0; i < request.ports.size(); ++i)
        if (request.ports[i].name == current)
            request.selected = static_cast<int32_t>(i);
    request.params = request.selected >= 0 ? VorlixSanitize(*params) : ComPortParams{};

    const int confirmed = hook(request); // runs without the lock: it may call back
    VorlixSaveAddedDevices(settingsPath, request.added);
    std::lock_guard<std::mutex> g(st.lock);
    // The index the caller asks for next refers to the list the dialog showed.
    st.ports = request.ports;
    if (confirmed == 1 && request.selected >= 0 &&
        static_cast<size_t>(request.selected) < request.ports.size()) {
        *params = VorlixSanitize(request.params);
        st.lastSelect = request.selected;
        *result = 1;
    } else {
        *result = 2;
    }
    return 0;
}

void VorlixGetLastSelect(int32_t* index) {
    if (!index)
        return;
    State& st = S();
    std::lock_guard<std::mutex> g(st.lock);
    *index = st.lastSelect;
}

void VorlixSetupDCB(const ComPortParams* params, struct termios* lineSettings) {
    if (!params || !lineSettings)
        return;
    const ComPortParams p = VorlixSanitize(*params);
    ::cfmakeraw(lineSettings);
    lineSettings->c_cflag |= CLOCAL | CREAD;
    lineSettings->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    lineSettings->c_cflag |= kSizes[p.dataBits - 5];
    switch (p.parity) {
    case VORLIX_PARITY_ODD:
        lineSettings->c_cflag |= PARENB | PARODD;
        break;
    case VORLIX_PARITY_EVEN:
        lineSettings->c_cflag |= PARENB;
        break;
    case VORLIX_PARITY_MARK:
        lineSettings->c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case VORLIX_PARITY_SPACE:
        lineSettings->c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (p.parity != VORLIX_PARITY_NONE)
        lineSettings->c_iflag |= INPCK;
    if (p.stopBits != VORLIX_STOP_ONE)
        lineSettings->c_cflag |= CSTOPB;
    lineSettings->c_iflag &= ~(IXON | IXOFF | IXANY);
    if (p.flowControl == VORLIX_FLOW_RTSCTS)
        lineSettings->c_cflag |= CRTSCTS;
    else if (p.flowControl == VORLIX_FLOW_XONXOFF)
        lineSettings->c_iflag |= IXON | IXOFF;
    lineSettings->c_cc[VMIN] = 0;
    lineSettings->c_cc[VTIME] = 0;
    const speed_t speed = SpeedOf(p.baudRate);
    ::cfsetispeed(lineSettings, speed);
    ::cfsetospeed(lineSettings, speed);
}

std::u16string VorlixPortNameOfPath(const std::u16string& devicePath) {
    platform::NetAddress address;
    if (platform::ParseNetAddress(platform::Utf16ToUtf8(devicePath), address) ==
        platform::NetAddressError::None)
        return platform::Utf8ToUtf16(platform::NetPortName(address));
    std::u16string path = devicePath;
    if (path.rfind(u"/dev/", 0) == 0)
        path = path.substr(5);
    std::u16string name;
    for (char16_t c : path) {
        if (c == u'/')
            c = u'-';
        else if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                   (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'_'))
            c = u'_';
        name.push_back(c);
    }
    while (!name.empty() && (name.front() == u'-' || name.front() == u'.'))
        name.erase(0, 1);
    return name;
}

ComPortParams VorlixSanitize(const ComPortParams& in) {
    ComPortParams p = in;
    const ComPortParams d;
    if (p.baudRate < 50 || p.baudRate > 4000000)
        p.baudRate = d.baudRate;
    if (p.dataBits < 5 || p.dataBits > 8)
        p.dataBits = d.dataBits;
    if (p.parity > VORLIX_PARITY_SPACE)
        p.parity = d.parity;
    if (p.stopBits > VORLIX_STOP_TWO)
        p.stopBits = d.stopBits;
    if (p.flowControl > VORLIX_FLOW_XONXOFF)
        p.flowControl = d.flowControl;
    if (p.receiveQueue == 0 || p.receiveQueue > kMaxQueue)
        p.receiveQueue = d.receiveQueue;
    if (p.transmitQueue == 0 || p.transmitQueue > kMaxQueue)
        p.transmitQueue = d.transmitQueue;
    return p;
}

std::vector<std::u16string> VorlixLoadAddedDevices(const std::u16string& settingsPath) {
    std::vector<std::u16string> out;
    const std::u16string value =
        platform::ReadSetting(kComponentSection, kAddedKey, u"", settingsPath);
    size_t start = 0;
    while (start <= value.size() && out.size() < kMaxAddedDevices) {
        size_t end = value.find(u';', start);
        if (end == std::u16string::npos)
            end = value.size();
        std::u16string item = value.substr(start, end - start);
        if (Addable(item) && std::find(out.begin(), out.end(), item) == out.end())
            out.push_back(std::move(item));
        start = end + 1;
    }
    return out;
}

bool VorlixSaveAddedDevices(const std::u16string& settingsPath,
                            const std::vector<std::u16string>& paths) {
    std::u16string value;
    size_t count = 0;
    for (const std::u16string& p : paths) {
        // Only absolute paths and network addresses that fit in the list's form are kept.
        if (!Addable(p) || count == kMaxAddedDevices)
            continue;
        if (!value.empty())
            value.push_back(u';');
        value += p;
        ++count;
    }
    const std::u16string old =
        platform::ReadSetting(kComponentSection, kAddedKey, u"", settingsPath);
    if (old == value)
        return true;
    return platform::WriteSetting(kComponentSection, kAddedKey, value, settingsPath);
}

const std::vector<uint32_t>& VorlixStandardBaudRates() {
    static const std::vector<uint32_t> rates = {300,   600,   1200,   2400,   4800,   9600,  19200,
                                                38400, 57600, 115200, 230400, 460800, 921600};
    return rates;
}
