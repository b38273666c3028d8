#pragma once
// The history search window: the lines of the conversation history that hold the
// words typed, found as they are typed; opening a line found shows the lines
// around it in its room.
#include <QDialog>
#include <memory>

class QTreeWidgetItem;

namespace Ui {
class frmHistory;
}

namespace kv::control {

class History;

class frmHistory : public QDialog {
    Q_OBJECT
public:
    static constexpr QStringView TimeFormat = u"yyyy-MM-dd hh:mm:ss";
    static constexpr QStringView FoundOne = u"1 line found";
    static constexpr QStringView FoundMany = u"%1 lines found";

    explicit frmHistory(std::shared_ptr<History> history, QWidget* parent = nullptr);
    ~frmHistory() override;

    // Shows the window modally (through the prompt service).
    static void Run(std::shared_ptr<History> history, QWidget* parent);

private:
    void search();
    void openLine(QTreeWidgetItem* item);

    std::unique_ptr<Ui::frmHistory> ui;
    std::shared_ptr<History> m_history;
};

} // namespace kv::control
