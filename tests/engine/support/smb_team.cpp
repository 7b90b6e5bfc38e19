#include "support/smb_team.h"

#include "support/smb_share.h"

namespace vantrel::testing {

QString smbStudioMissing()
{
    return SmbShare::missing();
}

StudioShareMaker smbStudioShare()
{
    return [](const QString& folder) {
        auto share = std::make_shared<SmbShare>(folder);
        StudioShare made;
        made.mounts << share->mount(QStringLiteral("bay-a")) << share->mount(QStringLiteral("bay-b"));
        made.serverFolder = share->exportFolder();
        made.error = share->error();
        made.stop = [share] { share->stop(); };
        return made;
    };
}

} // namespace vantrel::testing
