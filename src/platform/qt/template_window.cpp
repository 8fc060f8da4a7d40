// The windows built from dialog templates and their controls.
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include <algorithm>

#include "platform/qt/qt_backend_impl.h"

namespace vesk::qt {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics fm(font);
  const int avg =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX = std::max(1, (avg / 26 + 1) / 2);
  baseY = std::max(1, fm.height());
}

UpDownWidget::UpDownWidget(QWidget* parent, std::function<void(int)> step) : QWidget(parent) {
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
  }
  connect(up_, &QToolButton::clicked, this, [step] { step(+1); });
  connect(down_, &QToolButton::clicked, this, [step] { step(-1); });
}

void UpDownWidget::resizeEvent(QResizeEvent*) {
  const int h = height() / 2;
  up_->setGeometry(0, 0, width(), h);
  down_->setGeometry(0, h, width(), height() - h);
}

ControlRec* TemplateWindow::Find(int id) {
  for (auto& c : controls_) {
    if (c.id == id && id != -1) return &c;
  }
  return nullptr;
}

void TemplateWindow::Notify(int controlId, std::uint32_t code) {
  if (sink_ != nullptr) sink_->HandleMessage(WM_COMMAND, MakeCommandWParam(controlId, code), 0);
}

void TemplateWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    Notify(IDCANCEL, BN_CLICKED);
    return;
  }
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    // A focused push button is the one Enter presses; else the default.
    int id = DefaultButtonOf(*tmpl_);
    for (auto& c : controls_) {
      if (c.kind == ControlKind::PushButton && c.widget->hasFocus()) id = c.id;
    }
    if (ControlRec* c = Find(id); c != nullptr && c->widget->isEnabled()) {
      Notify(id, BN_CLICKED);
    }
    return;
  }
  QWidget::keyPressEvent(e);
}

void TemplateWindow::closeEvent(QCloseEvent* e) {
  // The window's owner decides: the close box only asks.
  e->ignore();
  if (sink_ != nullptr) sink_->HandleMessage(WM_CLOSE, 0, 0);
}

void QtBackend::Impl::BuildControls(TemplateWindow* w, const DialogUnits& du) {
  int previous = 0;
  std::vector<QWidget*> groupBoxes;
  for (const ControlTemplate& ct : w->tmpl_->controls) {
    QWidget* widget = nullptr;
    LogModel* log = nullptr;
    const int id = ct.id;
    const QString text = QString::fromUtf8(ct.text);
    switch (ct.kind) {
      case ControlKind::PushButton: {
        auto* b = new QPushButton(text, w);
        b->setDefault((ct.style & style::BS_DEFPUSHBUTTON) != 0);
        QObject::connect(b, &QPushButton::clicked, w, [w, id] { w->Notify(id, BN_CLICKED); });
        widget = b;
        break;
      }
      case ControlKind::ListBox: {
        auto* v = new QListView(w);
        v->setUniformItemSizes(true);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->setSelectionMode(QAbstractItemView::SingleSelection);
        v->setVerticalScrollBarPolicy((ct.style & style::WS_VSCROLL) != 0 ? Qt::ScrollBarAlwaysOn
                                                                          : Qt::ScrollBarAsNeeded);
        log = new LogModel(v);
        v->setModel(log);
        widget = v;
        break;
      }
      case ControlKind::CheckBox: {
        auto* c = new QCheckBox(text, w);
        QObject::connect(c, &QCheckBox::clicked, w, [w, id] { w->Notify(id, BN_CLICKED); });
        widget = c;
        break;
      }
      case ControlKind::RadioButton: {
        auto* r = new QRadioButton(text, w);
        r->setAutoExclusive(false);
        QObject::connect(r, &QRadioButton::clicked, w, [this, w, id] { ClickRadio(w, id); });
        widget = r;
        break;
      }
      case ControlKind::Edit: {
        auto* e = new QLineEdit(text, w);
        e->setReadOnly((ct.style & style::ES_READONLY) != 0);
        if ((ct.style & style::ES_RIGHT) != 0) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if ((ct.style & style::ES_NUMBER) != 0) {
          e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        }
        QObject::connect(e, &QLineEdit::textEdited, w, [w, id] { w->Notify(id, EN_CHANGE); });
        widget = e;
        break;
      }
      case ControlKind::UpDown: {
        const WindowId wid = w->id_;
        auto* u = new UpDownWidget(w, [this, wid, id](int delta) { Spin(wid, id, delta); });
        if ((ct.style & style::UDS_AUTOBUDDY) != 0) u->buddy = previous;
        widget = u;
        break;
      }
      case ControlKind::StaticText:
        widget = new QLabel(text, w);
        break;
      case ControlKind::GroupBox:
        widget = new QGroupBox(text, w);
        // The frame line runs through the middle of the title, as the
        // template's rectangles assume.
        widget->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
            " margin-top: 0.5em; }"
            "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
        groupBoxes.push_back(widget);
        break;
    }
    widget->setGeometry(du.X(ct.x), du.Y(ct.y), du.X(ct.cx), du.Y(ct.cy));
    widget->setEnabled((ct.style & style::WS_DISABLED) == 0);
    widget->setVisible((ct.style & style::WS_VISIBLE) != 0);
    w->controls_.push_back({id, ct.kind, ct.style, widget, log});
    previous = id;
  }
  // Group boxes are frames behind the controls they surround.
  for (QWidget* g : groupBoxes) g->lower();
  for (auto& c : w->controls_) {
    if (c.kind != ControlKind::UpDown) continue;
    auto* u = static_cast<UpDownWidget*>(c.widget);
    ControlRec* buddy = w->Find(u->buddy);
    if (buddy == nullptr) continue;
    if ((c.style & style::UDS_ALIGNRIGHT) != 0) {
      // Sits at the buddy's right edge; the buddy gives up that width.
      QRect r = buddy->widget->geometry();
      const int width = u->width();
      r.setWidth(r.width() - width);
      buddy->widget->setGeometry(r);
      u->setGeometry(r.right() + 1, r.top(), width, r.height());
    }
    if ((c.style & style::UDS_ARROWKEYS) != 0) InstallArrowKeys(w, buddy->widget, c.id);
  }
}

void QtBackend::Impl::InstallArrowKeys(TemplateWindow* w, QWidget* buddy, int spinId) {
  struct Filter : QObject {
    std::function<void(int)> step;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() != QEvent::KeyPress) return false;
      const int key = static_cast<QKeyEvent*>(e)->key();
      if (key == Qt::Key_Up) step(+1);
      if (key == Qt::Key_Down) step(-1);
      return key == Qt::Key_Up || key == Qt::Key_Down;
    }
  };
  auto* f = new Filter;
  f->setParent(buddy);
  const WindowId wid = w->id_;
  f->step = [this, wid, spinId](int delta) { Spin(wid, spinId, delta); };
  buddy->installEventFilter(f);
}

void QtBackend::Impl::ClickRadio(TemplateWindow* w, int id) {
  // Automatic radio buttons: the run of radio buttons around it is one group.
  auto& cs = w->controls_;
  auto it = std::find_if(cs.begin(), cs.end(), [id](const ControlRec& c) { return c.id == id; });
  if (it == cs.end()) return;
  auto first = it;
  while (first != cs.begin() && (first - 1)->kind == ControlKind::RadioButton) --first;
  for (auto r = first; r != cs.end() && r->kind == ControlKind::RadioButton; ++r) {
    static_cast<QRadioButton*>(r->widget)->setChecked(r->id == id);
  }
  w->Notify(id, BN_CLICKED);
}

void QtBackend::Impl::Spin(WindowId window, int id, int delta) {
  ControlRec* c = Ctl(window, id);
  if (c == nullptr || !c->widget->isEnabled()) return;
  auto* u = static_cast<UpDownWidget*>(c->widget);
  long long next = static_cast<long long>(u->pos) + delta;
  const bool wrap = (c->style & style::UDS_WRAP) != 0;
  if (next > u->high) next = wrap ? u->low : u->high;
  if (next < u->low) next = wrap ? u->high : u->low;
  self->UpDownSetPos(window, id, static_cast<int>(next));
}

}  // namespace vesk::qt
