#pragma once
// User-property values: conversion to a property's type, and the form they
// take in the store (so that Find and counts compare like with like).
#include <QString>
#include <QVariant>

namespace kv::outlook::detail {

bool IsKnownPropertyType(int type);
QVariant DefaultValue(int type);
// Converts as an assignment does; false when the value does not fit the type.
bool Coerce(int type, const QVariant& in, QVariant* out);
QVariant ToStored(int type, const QVariant& value);
QVariant FromStored(int type, const QVariant& stored);

} // namespace kv::outlook::detail
