#include "forms/dialog_buttons.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>

#include <map>
#include <vector>

namespace ts {

QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel, bool cancelTakesEnter) {
    auto* buttons = new QHBoxLayout;
    ok = new QPushButton("OK", dialog);
    ok->setObjectName("ButtonOK");
    ok->setDefault(true);
    cancel = new QPushButton("Cancel", dialog);
    cancel->setObjectName("ButtonCan");
    if (!cancelTakesEnter) cancel->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    return buttons;
}

namespace {

class DialogKeys : public QObject {
public:
    DialogKeys(QWidget* window, QWidget* firstField) : QObject(window), window_(window), first_(firstField) {
        window->installEventFilter(this);
        for (QWidget* w : window->findChildren<QWidget*>()) {
            // A dialog owned by the window has keys of its own.
            if (w->window() != window) continue;
            w->installEventFilter(this);
            auto* r = qobject_cast<QRadioButton*>(w);
            if (r && r->autoExclusive()) {
                groups_[r->parentWidget()].push_back(r);
                connect(r, &QRadioButton::toggled, this, [this, r] { TabStops(groups_[r->parentWidget()]); });
            }
        }
        TabStops();
    }

protected:
    bool eventFilter(QObject* obj, QEvent* e) override {
        // Settings set radio buttons with their signals blocked: the stops are laid again at each showing.
        if (obj == window_ && e->type() == QEvent::Show) {
            TabStops();
            // Restoring a minimised window is no new showing.
            if (first_ && !e->spontaneous()) FocusFirstField();
        }
        if (fresh_) KeepFirstFieldSelected(obj, e);
        if (e->type() != QEvent::KeyPress || !obj->isWidgetType()) return false;
        auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
        auto* button = qobject_cast<QPushButton*>(obj);
        if (button && (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
            if (button->isEnabled()) button->click();
            return true;
        }
        if ((k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) && (mods & Qt::ControlModifier)) {
            // Moved here rather than passed on: a list that takes Tab for its cells would keep it.
            const bool forward = k->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier);
            if (QWidget* next = NextStop(static_cast<QWidget*>(obj), forward))
                next->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
        return false;
    }

private:
    // The next (or previous) control in the dialog's Tab chain that Tab stops at.
    QWidget* NextStop(QWidget* from, bool forward) const {
        QWidget* w = from;
        for (int guard = 0; guard < 10000; ++guard) {
            w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
            if (!w || w == from) return nullptr;
            if (w->window() == window_ && (w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() &&
                !w->focusProxy())
                return w;
        }
        return nullptr;
    }

    void FocusFirstField() {
        first_->setFocus(Qt::TabFocusReason);
        auto* edit = qobject_cast<QLineEdit*>(first_);
        if (!edit) return;
        edit->selectAll();
        fresh_ = true;
    }

    // Until the user does anything else in a fresh showing, the first key typed into the first
    // field replaces its text: the window manager's focus moves while the dialog comes up can drop
    // the selection made at the showing.
    void KeepFirstFieldSelected(QObject* obj, QEvent* e) {
        auto* edit = qobject_cast<QLineEdit*>(first_);
        if (!edit) {
            fresh_ = false;
        } else if (obj == edit && e->type() == QEvent::KeyPress) {
            if (!edit->hasSelectedText()) edit->selectAll();
            fresh_ = false;
        } else if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::Hide ||
                   (obj != edit && obj != window_ && (e->type() == QEvent::FocusIn || e->type() == QEvent::KeyPress))) {
            fresh_ = false;
        }
    }

    void TabStops() {
        for (auto& [parent, group] : groups_) TabStops(group);
    }
    static void TabStops(const std::vector<QRadioButton*>& group) {
        bool any = false;
        for (const QRadioButton* r : group) any = any || r->isChecked();
        for (QRadioButton* r : group) r->setFocusPolicy(!any || r->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    }

    QWidget* window_;
    QPointer<QWidget> first_;
    bool fresh_ = false;  // a showing with its first field selected, nothing done in it yet
    std::map<QWidget*, std::vector<QRadioButton*>> groups_;
};

}  // namespace

void InstallDialogKeys(QWidget* window, QWidget* firstField) { new DialogKeys(window, firstField); }

}  // namespace ts
