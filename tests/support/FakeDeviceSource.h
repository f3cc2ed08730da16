// A device-event source the test feeds by hand. udev's events come from the kernel and the
// udev daemon, which a test cannot drive; this stands in for MakeUdevTtySource.
#pragma once

#include "platform/Event.h"
#include "port/DeviceMonitor.h"

#include <deque>
#include <memory>
#include <mutex>

class FakeDeviceSource : public IDeviceEventSource {
public:
    // What the test keeps to feed the source after the monitor took it over.
    struct Feed {
        std::mutex lock;
        std::deque<DeviceEvent> events;
        platform::Event ready{platform::Event::Reset::Manual};
        void Push(DeviceEvent::Kind kind, std::string node, std::vector<std::string> links = {}) {
            std::lock_guard<std::mutex> g(lock);
            events.push_back({kind, std::move(node), std::move(links)});
            ready.Set();
        }
    };
    explicit FakeDeviceSource(std::shared_ptr<Feed> feed) : m_feed(std::move(feed)) {}
    int Fd() const override { return m_feed->ready.Fd(); }
    bool Read(DeviceEvent& event) override {
        std::lock_guard<std::mutex> g(m_feed->lock);
        if (m_feed->events.empty()) {
            m_feed->ready.ResetEvent();
            return false;
        }
        event = std::move(m_feed->events.front());
        m_feed->events.pop_front();
        return true;
    }

private:
    std::shared_ptr<Feed> m_feed;
};
