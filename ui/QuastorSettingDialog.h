// The settings dialog of the Camera Link serial utility component: the serial library, its
// channel and the baud rate. The component (inside the Camera Link plug-in) finds it through
// the exported hook QuillonQuastorSettingDialog.
#pragma once

#include "components/quastor/Quastor.h"

#include <QDialog>

class QComboBox;

class CQuastorSettingDialog : public QDialog {
    Q_OBJECT
public:
    // The request is read at construction and written by Apply.
    explicit CQuastorSettingDialog(const QuastorDialogRequest& request, QWidget* parent = nullptr);

    // Writes the current choice into the request; false when no library is chosen.
    bool Apply(QuastorDialogRequest& request) const;

    QComboBox* libraryBox() const { return m_library; }
    QComboBox* channelBox() const { return m_channel; }
    QComboBox* baudBox() const { return m_baud; }

private:
    void FillChannels(uint32_t preferredIndex);
    // The speeds the chosen channel offers (all of them when it did not say), with preferred
    // selected; preferred is added, marked, when it is not among them.
    void FillBaudRates(uint32_t preferred);
    // The channel's bits over the request's speeds; 0 when unknown.
    uint32_t ChannelRates() const;

    const QuastorDialogRequest& m_request;
    QComboBox* m_library = nullptr;
    QComboBox* m_channel = nullptr;
    QComboBox* m_baud = nullptr;
};

// The hook: runs the dialog modally on the user-interface thread; 1 when confirmed.
extern "C" __attribute__((visibility("default"))) int32_t
QuillonQuastorSettingDialog(QuastorDialogRequest* request);
