// What both site dialogs are built of: the banner in the lower left, the zone
// choices with their pictures, and the key they write under.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <initializer_list>
#include <QRadioButton>
#include <string>

#include "registry/ZoneMap.h"

namespace moatgate {

// Frame4 holding Picture1 holding Image10: a fixed banner, no behaviour.
void BuildBanner(QWidget* parent, QGroupBox*& frame, QWidget*& picture, QLabel*& image);

// Both dialogs read alike: the site's names at the top, in bold, then `body`,
// the banner at the lower left and the buttons in a column at the right.
void LayOutSiteDialog(QWidget* dialog, QLabel* subdomainCaption, QLabel* subdomain, QLabel* domainCaption,
                      QLabel* domain, std::initializer_list<QWidget*> body, QWidget* banner,
                      std::initializer_list<QPushButton*> buttons);

// The zone the three choices (Trusted, Unclassified, Restricted) stand for;
// none chosen counts as Unclassified.
ZoneNumber ChosenZone(const QRadioButton* trusted, const QRadioButton* unclassified, const QRadioButton* restricted);

// The site key K: the zone map key, the domain and, when not empty, a subdomain.
std::string SiteKey(const QString& domain, const QString& subdomain);

}  // namespace moatgate
