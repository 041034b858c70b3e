#pragma once

// Answers for ScriptedPrompts::expectDialog that work a dialog as a user would: the dialog is
// shown (so it initialises as under exec()), `act` works its controls, and the result is how it
// was closed (Rejected when `act` left it open).

#include <QDialog>
#include <QTest>

#include <functional>

namespace dwtest {

template <typename Dialog> std::function<int(QDialog&)> runAs(std::function<void(Dialog&)> act) {
    return [act](QDialog& shown) {
        auto* dialog = dynamic_cast<Dialog*>(&shown);
        if (!dialog) {
            QTest::qFail("The dialog shown is not the one expected", __FILE__, __LINE__);
            return int(QDialog::Rejected);
        }
        dialog->setResult(QDialog::Rejected);
        dialog->show();
        act(*dialog);
        const int result = dialog->isVisible() ? int(QDialog::Rejected) : dialog->result();
        dialog->hide();
        return result;
    };
}

} // namespace dwtest
