#include "Startup.h"

namespace moatgate {

std::unique_ptr<RegistryApi> OpenStoreOrExplain(const EnvLookup& env, MessageBoxes& boxes) {
    std::string error;
    auto store = OpenConfiguredStore(env, error);
    if (!store)
        boxes.Tell(QStringLiteral("Moatgate cannot read the settings it manages:\n\n%1\n\n"
                                  "Nothing was changed. Mend or remove the file, then start Moatgate again.")
                       .arg(QString::fromStdString(error)),
                   QStringLiteral("Moatgate"), MessageBoxes::Icon::Critical);
    return store;
}

}  // namespace moatgate
