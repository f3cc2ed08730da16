// The udev source of terminal devices. It cannot be driven in tests (events come from the
// kernel and the udev daemon); the monitor's reaction is tested with a source of the tests'
// own.
#include "port/DeviceMonitor.h"

#include <libudev.h>

namespace {

class UdevTtySource : public IDeviceEventSource {
public:
    UdevTtySource(udev* u, udev_monitor* m) : m_udev(u), m_monitor(m) {}
    ~UdevTtySource() override {
        udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
    }
    int Fd() const override { return udev_monitor_get_fd(m_monitor); }
    bool Read(DeviceEvent& event) override {
        for (;;) {
            udev_device* d = udev_monitor_receive_device(m_monitor);
            if (!d)
                return false;
            const char* action = udev_device_get_action(d);
            const char* node = udev_device_get_devnode(d);
            const std::string a = action ? action : "";
            if (!node || (a != "add" && a != "remove")) {
                udev_device_unref(d);
                continue;
            }
            event.kind = a == "add" ? DeviceEvent::Kind::Added : DeviceEvent::Kind::Removed;
            event.node = node;
            event.links.clear();
            for (udev_list_entry* e = udev_device_get_devlinks_list_entry(d); e;
                 e = udev_list_entry_get_next(e))
                if (const char* name = udev_list_entry_get_name(e))
                    event.links.emplace_back(name);
            udev_device_unref(d);
            return true;
        }
    }

private:
    udev* m_udev;
    udev_monitor* m_monitor;
};

} // namespace

std::unique_ptr<IDeviceEventSource> MakeUdevTtySource() {
    udev* u = udev_new();
    if (!u)
        return nullptr;
    udev_monitor* m = udev_monitor_new_from_netlink(u, "udev");
    if (!m || udev_monitor_filter_add_match_subsystem_devtype(m, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(m) < 0) {
        if (m)
            udev_monitor_unref(m);
        udev_unref(u);
        return nullptr;
    }
    return std::make_unique<UdevTtySource>(u, m);
}
