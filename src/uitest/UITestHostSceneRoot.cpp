#include "uitest/UITestHostSceneRoot.h"

#include "app/AppConfig.h"
#include "model/PortStore.h"
#include "uitest/UITestFixedEntries.h"
#include "uitest/UITestHostView.h"
#include "uitest/UITestLaunchAtLoginController.h"
#include "uitest/UITestListingService.h"
#include "uitest/UITestProcessKiller.h"
#include "uitest/UITestScenarioState.h"
#include "uitest/UITestWorkingDirectoryResolver.h"

#include <QVBoxLayout>

namespace quaystone {

UITestHostSceneRoot::UITestHostSceneRoot(UITestScenario scenario, QWidget *parent)
    : QWidget(parent)
    , m_scenarioState(std::make_shared<UITestScenarioState>(scenario))
    , m_store(std::make_unique<PortStore>(std::make_unique<UITestListingService>(m_scenarioState),
                                          std::make_unique<UITestWorkingDirectoryResolver>(),
                                          std::make_unique<UITestProcessKiller>(m_scenarioState)))
    , m_appConfig(std::make_unique<AppConfig>(std::make_unique<UITestLaunchAtLoginController>())) {
    setObjectName(QStringLiteral("uitest-host"));
    setWindowTitle(QStringLiteral("Quaystone UI Test Host"));
    m_store->seedEntries(uiTestFixedEntries());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window takes its size, and its size limits, from its content.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_view = new UITestHostView(*m_store, *m_appConfig, this);
    layout->addWidget(m_view);
}

UITestHostSceneRoot::~UITestHostSceneRoot() {
    // The view refers to the store and the setting, which go with the members before QWidget
    // deletes its children; so it goes first.
    delete m_view;
}

PortStore &UITestHostSceneRoot::store() {
    return *m_store;
}

AppConfig &UITestHostSceneRoot::appConfig() {
    return *m_appConfig;
}

UITestScenarioState &UITestHostSceneRoot::scenarioState() {
    return *m_scenarioState;
}

} // namespace quaystone
