// The live option values: the one options dialog that the add-in keeps, created and loaded from
// the settings store the first time anything reads an option or the user opens the dialog.

#include "addin/connect.h"

namespace vexa {

frmOptions& Connect::Options() {
    // The close box unloads the dialog; the next use loads it again from the store.
    if (!fOptions || fOptions->Unloaded()) fOptions = std::make_shared<frmOptions>(platform_.settings);
    return *fOptions;
}

}  // namespace vexa
