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
        // Two computers of the studio, and two more for the races of four.
        for (const char* name : {"bay-a", "bay-b", "bay-c", "bay-d"})
            made.mounts << share->mount(QString::fromLatin1(name));
        made.serverFolder = share->exportFolder();
        made.error = share->error();
        made.stop = [share] { share->stop(); };
        return made;
    };
}

} // namespace vantrel::testing
