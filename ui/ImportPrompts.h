#pragma once

// The window's answers to the questions of an import: Yes/No boxes, OK boxes, and the 8.3 name
// dialog for a name that does not fit.

#include "engine/Import.h"

class Prompts;
class QWidget;

class ImportPrompts : public dw::ImportQuestions {
public:
    ImportPrompts(Prompts& prompts, QWidget* parent) : m_prompts(prompts), m_parent(parent) {}

    bool askName(std::string& text) override;
    bool askYesNo(const std::string& question) override;
    void tell(const std::string& message) override;

private:
    Prompts& m_prompts;
    QWidget* m_parent;
};
