#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace quaystone {

class AppConfig;
class PortStore;

// The test host's content: a Refresh button and the launch-at-login switch standing in for the
// tray's context menu, two labels that expose the setting and the selection as readable text,
// and the popup's views over the same store. Observes the store and the setting; owns neither.
class UITestHostView : public QWidget {
    Q_OBJECT

public:
    UITestHostView(PortStore &store, AppConfig &appConfig, QWidget *parent = nullptr);
    ~UITestHostView() override;

private:
    void refresh();
    void setLaunchAtLogin(bool enabled);
    void render();

    PortStore &m_store;
    AppConfig &m_appConfig;
    QPushButton *m_refreshButton = nullptr;
    QCheckBox *m_launchAtLoginSwitch = nullptr;
    QLabel *m_launchAtLoginLabel = nullptr;
    QLabel *m_selectionLabel = nullptr;
};

} // namespace quaystone
