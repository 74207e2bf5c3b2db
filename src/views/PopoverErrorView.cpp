#include "PopoverErrorView.h"

#include "TextLabel.h"

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
    auto *titleLabel = new TextLabel(title, popoverFont(13, QFont::Medium), TextTone::red, this);
    titleLabel->setObjectName(QStringLiteral("list-error-title"));
    titleLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(titleLabel);

    // The reason names a path and a remedy: wrapped, never elided, so that all of it can be read.
    auto *line = new QLabel(description, this);
    line->setObjectName(QStringLiteral("list-error-description"));
    line->setTextFormat(Qt::PlainText);
    line->setWordWrap(true);
    line->setAlignment(Qt::AlignCenter);
    line->setFont(popoverFont(13, QFont::Normal));
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette palette = line->palette();
    // On the popover's base colour a label draws with the Text role.
    palette.setColor(QPalette::Text, toneColour(palette, TextTone::secondary));
    line->setPalette(palette);
    // A layout asks a wrapped label for its height at a guessed width; the popover's width is fixed.
    line->setFixedHeight(line->heightForWidth(width - 2 * margin));
    layout->addWidget(line);
    layout->addStretch(1);
}

} // namespace quaystone
