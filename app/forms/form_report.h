// The report window: the conversion log, cleared at each Convert.
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

namespace ts {

class TFormReport : public QWidget {
    Q_OBJECT
public:
    explicit TFormReport(QWidget* parent = nullptr);

    void AddLine(const QString& line);
    void Clear();
    QStringList Lines() const;

    QPlainTextEdit* Memo1;
    QPushButton* Button1;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
};

}  // namespace ts
