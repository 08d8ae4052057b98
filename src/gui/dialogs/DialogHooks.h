#pragma once

namespace gridmorph {

class COrvexApp;

// Hands the window's dialogs to the document and the view: New Background Map (File New
// after the first), Create World File and Setup from World File. Called once the frame
// and the document exist.
void InstallDialogs(COrvexApp& app);

}  // namespace gridmorph
