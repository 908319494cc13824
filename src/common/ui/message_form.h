#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <memory>
#include <string>

#include "common/message_dialog.h"

class QCheckBox;

namespace vorncom::ui {

class TqevButton;

// One row of the dialog's button table, in bit order; rows 11 and 12 are the Details button
// and the glyph it wears while the details are open.
struct MessageButtonRow {
  const char* name;  // object name and glyph name
  const char* caption;
  int result;  // 0: does not close the dialog
};
inline constexpr int kDetailsRow = 11;
inline constexpr int kDetailsOpenRow = 12;
const MessageButtonRow& ButtonRow(int row);
// The glyph named like a button row ("btn_OK", ...), from the library's resources.
QPixmap ButtonGlyph(const char* name);
// The 32-pixel icon of a kind; null for kinds without one.
QPixmap KindIcon(MessageKind kind);

// The message box: icon, word-wrapped text, a right-aligned row of TqevButtons on the panel
// "PainelBotoes", optionally a Details button that unfolds a 100-pixel read-only text area and a
// "don't show again" check box. Its children carry the object names "Image", "Message",
// "memoDetalhes", "chkNaoMostrardeNovo", "PainelBotoes" and the button names of the table.
class TFormMensagem : public QDialog {
  Q_OBJECT

 public:
  explicit TFormMensagem(QWidget* parent = nullptr);

  void SetHelpContext(int context) { help_context_ = context; }
  int HelpContext() const { return help_context_; }
  // Opened with the desktop's handler by the Help button when the file exists.
  void SetHelpFile(const QString& path) { help_file_ = path; }
  const QString& HelpFile() const { return help_file_; }

  // Left and top edges; a negative coordinate keeps the centred one.
  void PlaceAt(int x, int y);

  // Shows the dialog modally and returns the modal result: a button's result, or 2 when the
  // dialog is closed otherwise (close box, Escape).
  int ShowModal();

  bool DontShowAgainChecked() const;
  bool DetailsOpen() const;
  // Between the normal height and the normal height plus the details area.
  void ToggleDetails();
  int NormalHeight() const { return normal_height_; }
  int ExpandedHeight() const { return expanded_height_; }

 public slots:
  void reject() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend std::unique_ptr<TFormMensagem> CriarMensagem(const std::string&, MessageKind, ButtonSet,
                                                      const std::string&, bool, bool);
  void ResultButtonClicked(TqevButton* button);
  void HelpClicked();

  int help_context_ = 0;
  QString help_file_;
  int normal_height_ = 0;
  int expanded_height_ = 0;
  QWidget* panel_ = nullptr;
  TqevButton* details_button_ = nullptr;
};

// Builds the dialog without showing it. Sizes follow the dialog font (Arial 8): the text wraps
// within half the screen width, overlong words break anywhere, and a text taller than the screen
// scrolls. Bits 11 to 15 of the set are ignored. The caller shows and frees the dialog. Needs a
// QApplication on the calling thread (see EnsureApplication).
std::unique_ptr<TFormMensagem> CriarMensagem(const std::string& text, MessageKind kind,
                                             ButtonSet set, const std::string& details,
                                             bool dont_show_again, bool details_open);

}  // namespace vorncom::ui
