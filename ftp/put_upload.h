// The uploads of quelmark-put, alike for the FTP and the SFTP client.
#pragma once

#include "ftp/UploadClient.h"

#include <QStringList>

namespace quelmark {

// Sends each local file as the remote name at the same position: one pair is one whole session,
// several pairs share one. Hands print the client's closing text of a single file (the FTP
// server's last reply, or why it failed), and the error text of each file of several that
// failed. Returns whether every file is in place.
template <typename Print>
bool UploadPairs(TUploadClient &client, const QStringList &locals, const QStringList &remotes, Print print)
{
    const auto printText = [&] {
        if (!client.ErrorMessage().isEmpty())
            print(client.ErrorMessage());
    };
    if (locals.size() == 1) {
        client.File().local = locals.first();
        client.File().remote = remotes.first();
        const bool stored = client.Put();
        printText();
        return stored;
    }
    bool all = true;
    for (qsizetype i = 0; i < locals.size(); ++i) {
        client.File().local = locals.at(i);
        client.File().remote = remotes.at(i);
        if (!client.PutFile()) {
            all = false;
            printText();
        }
    }
    client.CloseSession();
    return all;
}

} // namespace quelmark
