#include "settings/settings_window.h"

#include "core/state/settings_model.h"
#include "platform/window_places.h"
#include "settings/appearance_page.h"
#include "settings/controls.h"
#include "settings/files_page.h"
#include "settings/general_page.h"
#include "settings/keys_page.h"
#include "settings/quality_page.h"
#include "settings/updates.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <iterator>

namespace {

enum class Symbol { gear, brush, keyboard, folder, sliders };

// The tabs' symbols, drawn in the text colour at twice the size for sharp edges.
QIcon symbol(Symbol which, const QColor& colour)
{
    QPixmap pixmap(36, 36);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    switch (which) {
    case Symbol::gear: {
        for (int i = 0; i < 8; ++i) {
            const double angle = i * M_PI / 4;
            painter.drawLine(QPointF(9 + 5 * std::cos(angle), 9 + 5 * std::sin(angle)),
                QPointF(9 + 7.5 * std::cos(angle), 9 + 7.5 * std::sin(angle)));
        }
        painter.drawEllipse(QPointF(9, 9), 5, 5);
        painter.drawEllipse(QPointF(9, 9), 2, 2);
        break;
    }
    case Symbol::brush:
        painter.drawLine(QPointF(15, 3), QPointF(8, 10));
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(6, 12), 3, 3);
        break;
    case Symbol::keyboard:
        painter.drawRoundedRect(QRectF(2, 5, 14, 9), 2, 2);
        for (int x = 5; x <= 13; x += 3)
            painter.drawPoint(QPointF(x, 8));
        painter.drawLine(QPointF(6, 11.5), QPointF(12, 11.5));
        break;
    case Symbol::folder: {
        QPainterPath path;
        path.moveTo(2, 5);
        path.lineTo(7, 5);
        path.lineTo(8.5, 6.5);
        path.lineTo(16, 6.5);
        path.lineTo(16, 14);
        path.lineTo(2, 14);
        path.closeSubpath();
        painter.drawPath(path);
        break;
    }
    case Symbol::sliders:
        for (int k = 0; k < 3; ++k) {
            const double y = 4.5 + k * 4.5;
            painter.drawLine(QPointF(2, y), QPointF(16, y));
            painter.setBrush(colour);
            painter.drawEllipse(QPointF(k == 1 ? 11 : 6, y), 1.8, 1.8);
        }
        break;
    }
    return QIcon(pixmap);
}

}

const std::vector<QString>& SettingsWindow::tabs()
{
    static const std::vector<QString> identifiers{"geral", "aparencia", "teclas", "arquivos", "qualidade"};
    return identifiers;
}

SettingsWindow& SettingsWindow::shared()
{
    static auto* window = new SettingsWindow(SettingsModel::shared(), Updates::shared());
    return *window;
}

void SettingsWindow::showWindow()
{
    auto& window = shared();
    // Fitted to its screen at every call, so that a frame saved on a larger screen, or moved off
    // this one, comes back whole.
    if (auto* screen = window.screen()) {
        const auto frame = window.frameGeometry();
        const auto fitted = WindowPlaces::fitted(frame, screen->availableGeometry());
        if (fitted != frame)
            WindowPlaces::setFrame(window, fitted);
    }
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    window.raise();
    window.activateWindow();
    // Once the window is up, the other pages are laid out and drawn once off screen, so that the
    // first switch to each only paints.
    QTimer::singleShot(0, &window, [&window] {
        window.warmPages();
    });
}

void SettingsWindow::warmPages()
{
    if (warm_)
        return;
    warm_ = true;
    for (int i = 0; i < tabs_->count(); ++i) {
        auto* page = tabs_->widget(i);
        if (page == tabs_->currentWidget())
            continue;
        page->resize(tabs_->currentWidget()->size());
        page->grab();
    }
}

SettingsWindow::SettingsWindow(SettingsModel& model, Updates& updates, QWidget* parent)
    : QWidget(parent, Qt::Window), model_(model)
{
    setWindowTitle("Ajustes do Brivlon");
    // Escape closes it, as it closes a dialog; nothing is lost, every change is already kept.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    SettingsLook::follow(this);
    setMinimumSize(minimumWidth, minimumHeight);
    setMaximumWidth(maximumWidth);
    resize(540, 520);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    tabs_ = new QTabWidget;
    tabs_->setDocumentMode(true);
    general_ = new GeneralPage(model, updates);
    appearance_ = new AppearancePage(model);
    keys_ = new KeysPage(model);
    files_ = new FilesPage(model);
    quality_ = new QualityPage(model);
    tabs_->addTab(general_, "Geral");
    tabs_->addTab(appearance_, "Aparência");
    tabs_->addTab(keys_, "Teclas");
    tabs_->addTab(files_, "Arquivos");
    tabs_->addTab(quality_, "Qualidade");
    drawSymbols();
    layout->addWidget(tabs_);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && size_t(index) < tabs().size())
            model_.setTab(tabs()[size_t(index)]);
    });
    connect(&model_, &SettingsModel::changed, this, &SettingsWindow::followTab);
    // A theme chosen here recolours at once, also where no desktop side announces it.
    connect(&model_, &SettingsModel::changed, this, [this] {
        SettingsLook::applyTint(this);
    });
    followTab();
    restoreFrame();
}

void SettingsWindow::drawSymbols()
{
    const auto text = palette().color(QPalette::WindowText);
    if (!tabs_ || text == symbolColour_)
        return;
    symbolColour_ = text;
    const Symbol symbols[] = {Symbol::gear, Symbol::brush, Symbol::keyboard, Symbol::folder, Symbol::sliders};
    for (int i = 0; i < tabs_->count() && i < int(std::size(symbols)); ++i)
        tabs_->setTabIcon(i, symbol(symbols[i], text));
}

void SettingsWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The symbols are pictures in the text colour: drawn once, they would keep the colour of the
    // appearance the window was made in, light on a light page after the desktop turned light.
    if (event->type() == QEvent::PaletteChange)
        drawSymbols();
}

void SettingsWindow::followTab()
{
    const auto& ids = tabs();
    const auto found = std::find(ids.begin(), ids.end(), model_.tab());
    tabs_->setCurrentIndex(found == ids.end() ? 0 : int(found - ids.begin()));
}

// The frame of the last run when there is one; else centred on the screen under the pointer.
void SettingsWindow::restoreFrame()
{
    const auto saved = Defaults::string(SettingKey::settingsFrame);
    if (saved && restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(*saved))))
        return;
    if (auto* screen = WindowPlaces::screenForNew())
        move(WindowPlaces::centred(frameGeometry().size(), screen->availableGeometry()));
}

void SettingsWindow::hideEvent(QHideEvent* event)
{
    Defaults::set(SettingKey::settingsFrame, QString::fromLatin1(saveGeometry().toBase64()));
    QWidget::hideEvent(event);
}
