#include "uitest/UITestHostView.h"

#include "app/AppConfig.h"
#include "model/MainThreadTask.h"
#include "model/PortStore.h"
#include "views/PopoverRootView.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quaystone {

namespace {

// A store that is gone by the time the queued task runs (its window closed) is not refreshed.
QCoro::Task<> refreshIfAlive(QPointer<PortStore> store) {
    if (store)
        co_await store->refresh();
}

QString selectionText(const std::optional<PortEntryID> &selected) {
    return selected ? QStringLiteral("Selected Port %1").arg(selected->port) : QStringLiteral("Selected Port None");
}

QString launchAtLoginText(bool enabled) {
    return enabled ? QStringLiteral("Launch at Login On") : QStringLiteral("Launch at Login Off");
}

} // namespace

UITestHostView::UITestHostView(PortStore &store, AppConfig &appConfig, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_appConfig(appConfig) {
    setObjectName(QStringLiteral("uitest-host-view"));
    setFixedSize(360, 420);

    m_refreshButton = new QPushButton(QStringLiteral("Refresh"), this);
    m_refreshButton->setObjectName(QStringLiteral("refresh-button"));

    m_launchAtLoginSwitch = new QCheckBox(QStringLiteral("Launch at Login"), this);
    m_launchAtLoginSwitch->setObjectName(QStringLiteral("launch-at-login-switch"));

    m_launchAtLoginLabel = new QLabel(this);
    m_launchAtLoginLabel->setObjectName(QStringLiteral("launch-at-login-label"));

    m_selectionLabel = new QLabel(this);
    m_selectionLabel->setObjectName(QStringLiteral("selected-port-label"));

    auto *divider = new QFrame(this);
    divider->setObjectName(QStringLiteral("uitest-host-divider"));
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    auto *rootView = new PopoverRootView(store, this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    // The stack takes its own size and sits in the top leading corner of the fixed frame.
    layout->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    const QList<QWidget *> controls{m_refreshButton, m_launchAtLoginSwitch, m_launchAtLoginLabel, m_selectionLabel};
    for (QWidget *control : controls)
        layout->addWidget(control, 0, Qt::AlignLeft);
    layout->addWidget(divider);
    layout->addWidget(rootView, 0, Qt::AlignLeft);

    connect(m_refreshButton, &QPushButton::clicked, this, &UITestHostView::refresh);
    // toggled, not clicked: assistive technologies toggle the box without a click. render()
    // sets the box with its signals blocked, so only the user's toggles are requests.
    connect(m_launchAtLoginSwitch, &QCheckBox::toggled, this, &UITestHostView::setLaunchAtLogin);
    connect(&m_store, &PortStore::changed, this, &UITestHostView::render);
    connect(&m_appConfig, &AppConfig::changed, this, &UITestHostView::render);
    render();
}

UITestHostView::~UITestHostView() = default;

void UITestHostView::refresh() {
    // Unlike the popup's appearance, this asks in every state: a refresh already running
    // makes the store owe one more pass.
    startMainThreadTask([store = QPointer<PortStore>(&m_store)] { return refreshIfAlive(store); });
}

void UITestHostView::setLaunchAtLogin(bool enabled) {
    // The box has already flipped to the requested value; the setting's change announcement
    // sets it back to what the controller reports.
    m_appConfig.setLaunchAtLoginEnabled(enabled);
}

void UITestHostView::render() {
    const bool launchAtLogin = m_appConfig.launchAtLoginEnabled();
    {
        const QSignalBlocker blocker(m_launchAtLoginSwitch);
        m_launchAtLoginSwitch->setChecked(launchAtLogin);
    }
    m_launchAtLoginLabel->setText(launchAtLoginText(launchAtLogin));
    m_launchAtLoginLabel->setAccessibleName(m_launchAtLoginLabel->text());

    m_selectionLabel->setText(selectionText(m_store.selectedEntryID()));
    // Screen readers and the end-to-end tests read the label through its accessible name.
    m_selectionLabel->setAccessibleName(m_selectionLabel->text());
}

} // namespace quaystone
