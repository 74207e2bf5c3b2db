#include "PopoverErrorView.h"

#include "TextLabel.h"

#include <QKeySequence>
#include <QVBoxLayout>

namespace quaystone {

namespace {

constexpr int margin = 16;

} // namespace

PopoverErrorView::PopoverErrorView(const QString &description, int width, QWidget *parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("list-error"));
    const QString title = tr("Can't list ports");
    setAccessibleName(title);
    setAccessibleDescription(description);
    setMinimumHeight(80);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(4);
    layout->addStretch(1);
    auto *titleLabel = new TextLabel(title, popoverFont(TextSize::regular, QFont::Medium), TextTone::red, this);
    titleLabel->setObjectName(QStringLiteral("list-error-title"));
    titleLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(titleLabel);

    // The reason names a path and a remedy: wrapped, never elided, so that all of it can be read.
    auto *line = new QLabel(description, this);
    line->setObjectName(QStringLiteral("list-error-description"));
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    line->setAlignment(Qt::AlignCenter);
    line->setFont(popoverFont(TextSize::regular, QFont::Normal));
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette palette = line->palette();
    // On the popover's base colour a label draws with the Text role.
    palette.setColor(QPalette::Text, toneColour(palette, TextTone::secondary));
    line->setPalette(palette);
    // A layout asks a wrapped label for its height at a guessed width; the popover's width is fixed.
    line->setFixedHeight(line->heightForWidth(width - 2 * margin));
    layout->addWidget(line);
    // The footer with its refresh key is not shown over this view.
    const QString key = QKeySequence(Qt::CTRL | Qt::Key_R).toString(QKeySequence::NativeText);
    auto *hint = new TextLabel(tr("Press %1 to try again").arg(key), popoverFont(TextSize::small, QFont::Normal),
                               TextTone::secondary, this);
    hint->setObjectName(QStringLiteral("list-error-hint"));
    hint->setAlignment(Qt::AlignCenter);
    layout->addWidget(hint);
    layout->addStretch(1);
}

} // namespace quaystone
