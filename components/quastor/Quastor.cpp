#include "components/quastor/Quastor.h"

#include "platform/IniProfile.h"
#include "platform/ProgramFolder.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr char16_t kKeyLibrary[] = u"CameraLink DLL";
constexpr char16_t kKeyIndex[] = u"CameraLink Serial Index";
constexpr char16_t kKeyBaudRate[] = u"BaudRate";
constexpr uint32_t kDefaultBaudRate = 9600;
// Bounds on what a vendor library reports, so a bad answer never costs unbounded memory.
constexpr uint32_t kMaxIdentifierBytes = 4096;
constexpr uint32_t kMaxDialogChannels = 64;

struct OpenChannel {
    CLLibraryRecord* record;
    uint32_t serialIndex;
    hSerRef ref;
};

// The component's state. Loaded libraries are never unloaded and their records never freed:
// the plug-in's port may still use them while the process ends.
struct State {
    std::mutex lock;
    std::u16string settingsPath;
    std::vector<CLLibraryRecord*> libraries;
    std::vector<std::string> libraryPaths; // parallel to libraries
    std::vector<OpenChannel> open;
    bool hasLastSelect = false;
    CLSettingRecord lastSelect{};
    QuastorDialogHook hook = nullptr;
};

// Made on first use and ended only by QuastorShutdown, so it outlives every static object of
// the module that may still close a channel.
State* g_state = nullptr;
std::mutex g_stateLock;

State& S() {
    std::lock_guard<std::mutex> guard(g_stateLock);
    if (!g_state)
        g_state = new State;
    return *g_state;
}

std::u16string Str(const char16_t* s) {
    return s ? std::u16string(s) : std::u16string();
}

std::u16string NameOf(const char16_t* buffer, size_t capacity) {
    size_t n = 0;
    while (n < capacity && buffer[n] != 0)
        ++n;
    return std::u16string(buffer, n);
}

void CopyName(char16_t* dst, size_t capacity, std::u16string_view src) {
    const size_t n = std::min(src.size(), capacity - 1);
    std::copy_n(src.data(), n, dst);
    std::fill(dst + n, dst + capacity, u'\0');
}

bool IsPlainFileName(std::u16string_view name) {
    return !name.empty() && name != u"." && name != u".." &&
           name.find(u'/') == std::u16string_view::npos &&
           name.find(u'\0') == std::u16string_view::npos;
}

bool LooksLikeLibrary(const std::string& name) {
    const size_t at = name.find(".so");
    return at != std::string::npos && at > 0 && (at + 3 == name.size() || name[at + 3] == '.');
}

template <typename Fn>
Fn Lookup(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

// The channel count as the library tells it now (1 when it cannot tell). A failed answer is
// kept only until the next question: a frame grabber that shows up later is then seen.
void AskPortCount(CLLibraryRecord* rec) {
    if (!rec->clGetNumSerialPorts)
        return;
    uint32_t count = 0;
    rec->portCount = rec->clGetNumSerialPorts(&count) == CL_ERR_NO_ERR ? count : 0;
}

// Loads the library and fills a new record, all-or-nothing: a library without the four
// functions of version 1.0 is closed again. Version 1.1 is claimed only when the library
// reports it and has every function the port uses with it.
// What went wrong goes to *problem (and the missing function's name to *function).
CLLibraryRecord* LoadLibraryRecord(std::u16string_view fileName, const std::string& path,
                                   QuastorLibraryProblem* problem, std::string* function) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::error_code ec;
        *problem = fs::exists(path, ec) ? QuastorLibraryProblem::NotLoadable
                                        : QuastorLibraryProblem::Missing;
        return nullptr;
    }
    auto rec = std::make_unique<CLLibraryRecord>();
    std::memset(rec.get(), 0, sizeof(CLLibraryRecord));
    rec->recordSize = sizeof(CLLibraryRecord);
    rec->libraryHandle = handle;
    rec->clSerialInit = Lookup<clSerialInitFn>(handle, "clSerialInit");
    rec->clSerialRead = Lookup<clSerialReadFn>(handle, "clSerialRead");
    rec->clSerialWrite = Lookup<clSerialWriteFn>(handle, "clSerialWrite");
    rec->clSerialClose = Lookup<clSerialCloseFn>(handle, "clSerialClose");
    const std::pair<bool, const char*> required[] = {
        {rec->clSerialInit != nullptr, "clSerialInit"},
        {rec->clSerialRead != nullptr, "clSerialRead"},
        {rec->clSerialWrite != nullptr, "clSerialWrite"},
        {rec->clSerialClose != nullptr, "clSerialClose"}};
    for (const auto& [found, name] : required)
        if (!found) {
            dlclose(handle);
            *problem = QuastorLibraryProblem::FunctionMissing;
            if (function)
                *function = name;
            return nullptr;
        }
    rec->clFlushPort = Lookup<clFlushPortFn>(handle, "clFlushPort");
    rec->clGetErrorText = Lookup<clGetErrorTextFn>(handle, "clGetErrorText");
    rec->clGetManufacturerInfo = Lookup<clGetManufacturerInfoFn>(handle, "clGetManufacturerInfo");
    rec->clGetNumBytesAvail = Lookup<clGetNumBytesAvailFn>(handle, "clGetNumBytesAvail");
    rec->clGetNumSerialPorts = Lookup<clGetNumSerialPortsFn>(handle, "clGetNumSerialPorts");
    rec->clGetSerialPortIdentifier =
        Lookup<clGetSerialPortIdentifierFn>(handle, "clGetSerialPortIdentifier");
    rec->clGetSupportedBaudRates =
        Lookup<clGetSupportedBaudRatesFn>(handle, "clGetSupportedBaudRates");
    rec->clSetBaudRate = Lookup<clSetBaudRateFn>(handle, "clSetBaudRate");

    rec->apiVersion = CL_DLL_VERSION_1_0;
    if (rec->clGetManufacturerInfo) {
        uint32_t size = sizeof(rec->manufacturer) - 1;
        uint32_t version = 0;
        if (rec->clGetManufacturerInfo(rec->manufacturer, &size, &version) == CL_ERR_NO_ERR) {
            rec->manufacturerVersion = version;
            if (static_cast<int32_t>(version) >= CL_DLL_VERSION_1_1)
                rec->apiVersion = static_cast<int32_t>(version);
        }
        rec->manufacturer[sizeof(rec->manufacturer) - 1] = '\0';
    }
    if (rec->apiVersion >= CL_DLL_VERSION_1_1 &&
        (!rec->clFlushPort || !rec->clGetNumBytesAvail || !rec->clGetSupportedBaudRates ||
         !rec->clSetBaudRate))
        rec->apiVersion = CL_DLL_VERSION_1_0;

    rec->portCount = 1;
    AskPortCount(rec.get());
    CopyName(rec->libraryName, kClLibraryNameChars, fileName);
    return rec.release();
}

CLLibraryRecord* FindOrLoad(std::u16string_view fileName, QuastorLibraryProblem* problem = nullptr,
                            std::string* function = nullptr) {
    QuastorLibraryProblem ignored = QuastorLibraryProblem::None;
    if (!problem)
        problem = &ignored;
    *problem = QuastorLibraryProblem::None;
    if (fileName.empty()) {
        *problem = QuastorLibraryProblem::NotChosen;
        return nullptr;
    }
    if (!IsPlainFileName(fileName) || fileName.size() >= kClLibraryNameChars) {
        *problem = QuastorLibraryProblem::Missing;
        return nullptr;
    }
    // Known by its full path: the same name in another folder is another library.
    const std::string path = QuastorLibraryPath(fileName);
    State& s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    for (size_t i = 0; i < s.libraries.size(); ++i)
        if (s.libraryPaths[i] == path)
            return s.libraries[i];
    CLLibraryRecord* rec = LoadLibraryRecord(fileName, path, problem, function);
    if (rec) {
        s.libraryPaths.reserve(s.libraries.size() + 1);
        s.libraries.push_back(rec);
        s.libraryPaths.push_back(path);
    }
    return rec;
}

bool IsKnownRecord(const CLLibraryRecord* record) {
    State& s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    return std::find(s.libraries.begin(), s.libraries.end(), record) != s.libraries.end();
}

QuastorDialogHook CurrentHook() {
    {
        State& s = S();
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.hook)
            return s.hook;
    }
    return reinterpret_cast<QuastorDialogHook>(dlsym(RTLD_DEFAULT, kQuastorDialogHookSymbol));
}

int32_t RunDialog(QuastorDialogHook hook, CLSettingRecord* record, CLSerialParams* params,
                  int32_t* result) {
    const std::vector<CLLibraryRecord*> libs = QuastorListLibraries();
    std::vector<QuastorLibraryEntry> entries(libs.size());
    std::vector<QuastorChannelEntry> channels;
    const std::u16string current = NameOf(record->libraryName, kClLibraryNameChars);
    int32_t selected = -1;
    for (size_t i = 0; i < libs.size(); ++i) {
        if (libs[i]->portCount == 0)
            AskPortCount(libs[i]);
        QuastorLibraryEntry& e = entries[i];
        std::memset(&e, 0, sizeof e);
        CopyName(e.fileName, kClLibraryNameChars,
                 NameOf(libs[i]->libraryName, kClLibraryNameChars));
        CopyName(e.manufacturer, 128, platform::LocaleToUtf16(libs[i]->manufacturer));
        e.portCount = libs[i]->portCount;
        e.apiVersion = libs[i]->apiVersion;
        if (NameOf(e.fileName, kClLibraryNameChars) == current)
            selected = static_cast<int32_t>(i);
        for (uint32_t ch = 0; ch < std::min(libs[i]->portCount, kMaxDialogChannels); ++ch) {
            QuastorChannelEntry c{};
            c.library = static_cast<uint32_t>(i);
            c.serialIndex = ch;
            CopyName(c.identifier, 128, QuastorPortIdentifier(libs[i], ch));
            channels.push_back(c);
        }
    }
    const std::u16string folder = platform::PathToUtf16(QuastorLibraryFolder());
    const std::vector<uint32_t>& rates = QuastorBaudRates();
    std::vector<uint32_t> channelRates(channels.size(), 0);
    for (size_t i = 0; i < channels.size(); ++i) {
        const uint32_t codes =
            QuastorSupportedBaudCodes(libs[channels[i].library], channels[i].serialIndex);
        for (size_t r = 0; r < rates.size() && r < 32; ++r) {
            const uint32_t code = ClBaudRateCode(rates[r]);
            if (code != 0xFFFFFFFF && (codes & code) != 0)
                channelRates[i] |= 1u << r;
        }
    }

    QuastorDialogRequest request{};
    request.structSize = sizeof request;
    request.folder = folder.c_str();
    request.libraryCount = static_cast<uint32_t>(entries.size());
    request.libraries = entries.data();
    request.channelCount = static_cast<uint32_t>(channels.size());
    request.channels = channels.data();
    request.baudRateCount = static_cast<uint32_t>(rates.size());
    request.baudRates = rates.data();
    request.library = selected;
    request.serialIndex = record->serialIndex;
    request.baudRate = params->baudRate;
    request.channelRates = channelRates.data();

    if (hook(&request) != 1 || request.library < 0 ||
        static_cast<size_t>(request.library) >= entries.size())
        return 0; // cancelled: nothing changes

    CopyName(record->libraryName, kClLibraryNameChars,
             NameOf(entries[static_cast<size_t>(request.library)].fileName, kClLibraryNameChars));
    record->serialIndex = request.serialIndex;
    if (params->dataBits == 0)
        params->dataBits = 8;
    params->baudRate = request.baudRate;
    {
        State& s = S();
        std::lock_guard<std::mutex> guard(s.lock);
        s.lastSelect = *record;
        s.hasLastSelect = true;
    }
    *result = 1;
    return 0;
}

} // namespace

void QuastorShutdown() {
    State* state = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_stateLock);
        state = std::exchange(g_state, nullptr);
    }
    if (!state)
        return;
    for (const OpenChannel& c : state->open)
        c.record->clSerialClose(c.ref);
    for (CLLibraryRecord* rec : state->libraries) {
        if (rec->libraryHandle)
            dlclose(rec->libraryHandle);
        delete rec;
    }
    delete state;
}

void QuastorSetDialogHook(QuastorDialogHook hook) {
    State& s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    s.hook = hook;
}

void LirnoInitW(const char16_t* settingsPath) {
    try {
        State& s = S();
        std::lock_guard<std::mutex> guard(s.lock);
        s.settingsPath = Str(settingsPath);
    } catch (...) {
    }
}

void LirnoLoadCLSettingParaW(const char16_t* settingsPath, const char16_t* channelSection,
                             CLSettingRecord* record) {
    if (!record)
        return;
    try {
        std::memset(record, 0, sizeof *record);
        const std::u16string path = Str(settingsPath), section = Str(channelSection);
        const std::u16string name =
            platform::ReadSetting(section, kKeyLibrary, u"", path, kClLibraryNameChars - 1);
        CopyName(record->libraryName, kClLibraryNameChars, name);
        record->serialIndex = platform::ReadSettingInt(section, kKeyIndex, 0, path);
    } catch (...) {
        std::memset(record, 0, sizeof *record);
    }
}

bool LirnoSaveCLSettingParaW(const char16_t* settingsPath, const char16_t* channelSection,
                             const CLSettingRecord* record) {
    if (!record)
        return false;
    try {
        const std::u16string path = Str(settingsPath), section = Str(channelSection);
        const std::u16string name = NameOf(record->libraryName, kClLibraryNameChars);
        const std::u16string index = platform::Utf8ToUtf16(std::to_string(record->serialIndex));
        bool ok = platform::WriteSetting(section, kKeyLibrary, name, path);
        return platform::WriteSetting(section, kKeyIndex, index, path) && ok;
    } catch (...) {
        return false;
    }
}

void LirnoLoadCLSerParaW(const char16_t* settingsPath, const char16_t* portName,
                         CLSerialParams* params) {
    if (!params)
        return;
    *params = CLSerialParams{8, kDefaultBaudRate, 0, 0};
    try {
        const std::u16string name = Str(portName);
        if (name.empty())
            return;
        const uint32_t baud =
            platform::ReadSettingInt(name, kKeyBaudRate, kDefaultBaudRate, Str(settingsPath));
        params->baudRate = baud == 0 ? kDefaultBaudRate : baud;
    } catch (...) {
    }
}

bool LirnoSaveCLSerParaW(const char16_t* settingsPath, const char16_t* portName,
                         const CLSerialParams* params) {
    if (!params)
        return false;
    try {
        const std::u16string name = Str(portName);
        if (name.empty())
            return false;
        return platform::WriteSetting(name, kKeyBaudRate,
                                      platform::Utf8ToUtf16(std::to_string(params->baudRate)),
                                      Str(settingsPath));
    } catch (...) {
        return false;
    }
}

CLLibraryRecord* LirnoGetDLLStatW(const CLSettingRecord* record) {
    if (!record)
        return nullptr;
    try {
        return FindOrLoad(NameOf(record->libraryName, kClLibraryNameChars));
    } catch (...) {
        return nullptr;
    }
}

void LirnoGenerateCLPortNameW(const CLSettingRecord* record, uint32_t serialIndex, char16_t* buffer,
                              uint32_t length) {
    if (!buffer || length == 0)
        return;
    buffer[0] = u'\0';
    if (!record)
        return;
    try {
        std::u16string stem = NameOf(record->libraryName, kClLibraryNameChars);
        if (stem.empty())
            return;
        const size_t so = stem.find(u".so");
        if (so != std::u16string::npos && so > 0)
            stem.resize(so);
        // The name is the settings section of the port's parameters: keep it one clean word.
        for (char16_t& c : stem)
            if (c < 0x20 || c == u'[' || c == u']' || c == u'=' || c == u' ' || c == u';')
                c = u'_';
        std::u16string name =
            u"CL_" + stem + u"_" + platform::Utf8ToUtf16(std::to_string(serialIndex));
        CopyName(buffer, length, name);
    } catch (...) {
        buffer[0] = u'\0';
    }
}

int32_t LirnoSettingDlgExW(const char16_t* /*settingsPath*/, const char16_t* /*channelSection*/,
                           CLSettingRecord* record, CLSerialParams* params, int32_t* result,
                           int32_t /*reserved*/) {
    if (!record || !params || !result)
        return 1;
    try {
        QuastorDialogHook hook = CurrentHook();
        if (!hook)
            return 1;
        return RunDialog(hook, record, params, result);
    } catch (...) {
        return 1;
    }
}

void LirnoGetLastSelectW(CLSettingRecord* record) {
    if (!record)
        return;
    State& s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.hasLastSelect)
        return;
    std::memcpy(record->libraryName, s.lastSelect.libraryName, sizeof record->libraryName);
    record->serialIndex = s.lastSelect.serialIndex;
}

int32_t LirnoSafeSerialInit(CLLibraryRecord* record, uint32_t serialIndex, hSerRef* serialRef,
                            int32_t* error) {
    if (!serialRef || !error)
        return 3;
    *serialRef = nullptr;
    *error = CL_ERR_NO_ERR;
    try {
        if (!record || !IsKnownRecord(record) || !record->clSerialInit) {
            *error = CL_ERR_UNABLE_TO_LOAD_DLL;
            return 1;
        }
        if (serialIndex >= record->portCount)
            AskPortCount(record); // it may have failed, or the channel come since
        if (serialIndex >= record->portCount) {
            *error = CL_ERR_INVALID_INDEX;
            return 1;
        }
        State& s = S();
        {
            std::lock_guard<std::mutex> guard(s.lock);
            for (const OpenChannel& c : s.open)
                if (c.record == record && c.serialIndex == serialIndex) {
                    *error = CL_ERR_PORT_IN_USE;
                    return 1;
                }
        }
        hSerRef ref = nullptr;
        const int32_t r = record->clSerialInit(serialIndex, &ref);
        if (r != CL_ERR_NO_ERR || !ref) {
            *error = r != CL_ERR_NO_ERR ? r : CL_ERR_INVALID_REFERENCE;
            return 1;
        }
        std::lock_guard<std::mutex> guard(s.lock);
        s.open.push_back({record, serialIndex, ref});
        *serialRef = ref;
        return 0;
    } catch (...) {
        *error = CL_ERR_OUT_OF_MEMORY;
        return 1;
    }
}

void LirnoSafeSerialClose(CLLibraryRecord* record, hSerRef serialRef) {
    if (!record || !serialRef)
        return;
    State& s = S();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = std::find_if(s.open.begin(), s.open.end(), [&](const OpenChannel& c) {
            return c.record == record && c.ref == serialRef;
        });
        if (it == s.open.end())
            return;
        s.open.erase(it);
    }
    record->clSerialClose(serialRef);
}

std::string QuastorLibraryFolder() {
    std::error_code ec;
    const char* env = std::getenv("CLSERIALPATH");
    fs::path folder =
        env && *env ? fs::path(env) : fs::path(platform::ProgramFolder()) / "clserial";
    fs::path absolute = fs::absolute(folder, ec);
    std::string out = (ec ? folder : absolute).lexically_normal().string();
    if (out.empty() || out.back() != '/')
        out.push_back('/');
    return out;
}

std::string QuastorLibraryPath(std::u16string_view fileName) {
    if (!IsPlainFileName(fileName))
        return {};
    return QuastorLibraryFolder() + platform::Utf16ToPath(fileName);
}

std::vector<CLLibraryRecord*> QuastorListLibraries() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(QuastorLibraryFolder(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (LooksLikeLibrary(name) && it->is_regular_file(ec))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<CLLibraryRecord*> out;
    for (const std::string& name : names)
        if (CLLibraryRecord* rec = FindOrLoad(platform::PathToUtf16(name)))
            out.push_back(rec);
    return out;
}

std::u16string QuastorPortIdentifier(const CLLibraryRecord* record, uint32_t serialIndex) {
    if (!record || !record->clGetSerialPortIdentifier)
        return {};
    uint32_t size = 0;
    record->clGetSerialPortIdentifier(serialIndex, nullptr, &size);
    if (size == 0 || size > kMaxIdentifierBytes)
        return {};
    std::string buffer(size, '\0');
    if (record->clGetSerialPortIdentifier(serialIndex, buffer.data(), &size) != CL_ERR_NO_ERR)
        return {};
    buffer.resize(std::min<size_t>(buffer.find('\0'), buffer.size()));
    return platform::LocaleToUtf16(buffer);
}

const std::vector<uint32_t>& QuastorBaudRates() {
    static const std::vector<uint32_t> rates{9600,   19200,  38400,  57600,
                                             115200, 230400, 460800, 921600};
    return rates;
}

uint32_t QuastorSupportedBaudCodes(CLLibraryRecord* record, uint32_t serialIndex) {
    constexpr uint32_t kEveryCode = 0xFF;
    try {
        if (!record || !IsKnownRecord(record) || serialIndex >= record->portCount)
            return 0;
        if (record->apiVersion < CL_DLL_VERSION_1_1)
            return kEveryCode;
        if (!record->clGetSupportedBaudRates)
            return 0;
        State& s = S();
        hSerRef held = nullptr;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            for (const OpenChannel& c : s.open)
                if (c.record == record && c.serialIndex == serialIndex)
                    held = c.ref;
        }
        uint32_t codes = 0;
        if (held) {
            if (record->clGetSupportedBaudRates(held, &codes) != CL_ERR_NO_ERR)
                return 0;
            return codes;
        }
        // Not open here: opened for the question only. A channel another program holds does
        // not open and says nothing.
        hSerRef ref = nullptr;
        if (record->clSerialInit(serialIndex, &ref) != CL_ERR_NO_ERR || !ref)
            return 0;
        if (record->clGetSupportedBaudRates(ref, &codes) != CL_ERR_NO_ERR)
            codes = 0;
        record->clSerialClose(ref);
        return codes;
    } catch (...) {
        return 0;
    }
}

QuastorLibraryProblem QuastorDiagnoseLibrary(std::u16string_view fileName, std::string* function) {
    try {
        QuastorLibraryProblem problem = QuastorLibraryProblem::None;
        FindOrLoad(fileName, &problem, function);
        return problem;
    } catch (...) {
        return QuastorLibraryProblem::NotLoadable;
    }
}
