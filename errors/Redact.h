#pragma once

#include <QString>

// Replaces every whole-token occurrence of secret in text with "****". Only whole tokens,
// so that a short password does not cut holes in the words of a message.
QString withoutSecret(QString text, const QString& secret);
