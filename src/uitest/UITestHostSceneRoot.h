#pragma once

#include "app/LaunchOptions.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace quaystone {

class AppConfig;
class PortStore;
class UITestHostView;
class UITestScenarioState;

// The window of UI-test mode, titled "Quaystone UI Test Host". It owns one store over the fake
// services of the scenario, seeded with the fixed entries, and one launch-at-login setting over
// an in-memory controller, for the life of the window; its content is one UITestHostView.
class UITestHostSceneRoot : public QWidget {
    Q_OBJECT

public:
    explicit UITestHostSceneRoot(UITestScenario scenario, QWidget *parent = nullptr);
    ~UITestHostSceneRoot() override;

    PortStore &store();
    AppConfig &appConfig();
    // Shared by the fake listing and the fake killer; what one kills, the other stops listing.
    UITestScenarioState &scenarioState();

private:
    std::shared_ptr<UITestScenarioState> m_scenarioState;
    std::unique_ptr<PortStore> m_store;
    std::unique_ptr<AppConfig> m_appConfig;
    QPointer<UITestHostView> m_view;
};

} // namespace quaystone
