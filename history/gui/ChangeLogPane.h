#pragma once
// The redo and undo log panes: a read-only editor with line numbers and
// INI-style colouring that holds registry-file lines. The lines are the
// pane's content; the helpers read and append them as 8-bit text.

#include <string>
#include <vector>

class QsciScintilla;
class QWidget;

namespace vt::history
{

QsciScintilla *CreateChangeLogPane(QWidget *parent);
// The pane's lines; an empty pane has none.
std::vector<std::string> ChangeLogLines(const QsciScintilla *pane);
bool ChangeLogIsEmpty(const QsciScintilla *pane);
void AppendChangeLogLines(QsciScintilla *pane, const std::vector<std::string> &lines);
// The lines put in front of line `line` (counted from 0); appended when the
// pane has no such line.
void InsertChangeLogLines(QsciScintilla *pane, int line, const std::vector<std::string> &lines);

} // namespace vt::history
