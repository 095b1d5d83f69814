// A site's options beside its server, user name, password and default directory: how its
// uploads go (passive mode, missing folders made, files replaced under a temporary name,
// retries, TLS, the protocol, the SSH key), each a value of the site's key.
//
// The options, their store names and what a new site proposes are the table of SiteRecord.h. The
// site page shows them as persisted controls, so the whole-window save and load move them with
// the site's fields; the site dialog shows them as plain controls.
#pragma once

#include "catalogue/SiteRecord.h"

#include <QList>

class QWidget;

namespace quelmark {

class TSiteOptionControls {
public:
    // Makes a panel below parent with one control per option, in the table's order: a check box
    // for an option that is on or off ("chkPassive", ...), a spin box with its caption for a
    // number ("spnRetries"). Persisted controls carry the option's store name; plain ones do not.
    TSiteOptionControls(QWidget *parent, bool persisted);
    Q_DISABLE_COPY(TSiteOptionControls)

    QWidget *Panel() const { return m_panel; }
    // Copies the options the controls show into site.
    void Get(TSite &site) const;
    // Shows the options of site.
    void Set(const TSite &site);
    // Points persisted controls at a site's key (a section relative to the base key), or at none
    // for an empty section.
    void SetRegSection(const QString &section);
    // Returns the controls and the key file's browse button in the order the eye reads them.
    const QList<QWidget *> &TabOrder() const { return m_tabOrder; }

private:
    // Puts the options of FTP alone ("Passive mode", "Use TLS (explicit)", "Trusted
    // certificate:") out of reach while "Protocol:" is SFTP; their values stay as they are.
    void ShowProtocol();

    QWidget *m_panel = nullptr;
    // One per row of the table, in its order.
    QList<QWidget *> m_controls;
    QList<QWidget *> m_tabOrder;
};

} // namespace quelmark
