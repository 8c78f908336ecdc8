#include "tests/support/FiniteFields.h"

#include <Inventor/SbBox2d.h>
#include <Inventor/SbBox2f.h>
#include <Inventor/SbBox3d.h>
#include <Inventor/SbBox3f.h>
#include <Inventor/SbColor4f.h>
#include <Inventor/SbName.h>
#include <Inventor/fields/SoFields.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/nodes/SoGroup.h>
#include <Inventor/nodes/SoNode.h>

#include <cmath>
#include <vector>

namespace kestrav {

namespace {

template <class T>
bool finiteArray(const T* values, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

bool finite(float v) { return std::isfinite(v); }
bool finite(double v) { return std::isfinite(v); }
bool finite(const SbTime& t) { return std::isfinite(t.getValue()); }
bool finite(const SbVec2f& v) { return finiteArray(v.getValue(), 2); }
bool finite(const SbVec3f& v) { return finiteArray(v.getValue(), 3); }
bool finite(const SbVec4f& v) { return finiteArray(v.getValue(), 4); }
bool finite(const SbVec2d& v) { return finiteArray(v.getValue(), 2); }
bool finite(const SbVec3d& v) { return finiteArray(v.getValue(), 3); }
bool finite(const SbVec4d& v) { return finiteArray(v.getValue(), 4); }
bool finite(const SbColor4f& c) { return finiteArray(c.getValue(), 4); }
bool finite(const SbMatrix& m) { return finiteArray(&m.getValue()[0][0], 16); }
bool finite(const SbPlane& p) { return finite(p.getNormal()) && finite(p.getDistanceFromOrigin()); }
bool finite(const SbBox2f& b) { return finite(b.getMin()) && finite(b.getMax()); }
bool finite(const SbBox3f& b) { return finite(b.getMin()) && finite(b.getMax()); }
bool finite(const SbBox2d& b) { return finite(b.getMin()) && finite(b.getMax()); }
bool finite(const SbBox3d& b) { return finite(b.getMin()) && finite(b.getMax()); }
// The quaternion and the axis and angle it is written as.
bool finite(const SbRotation& r) {
    SbVec3f axis;
    float angle;
    r.getValue(axis, angle);
    return finiteArray(r.getValue(), 4) && finite(axis) && finite(angle);
}

template <class Field>
bool finiteSingle(const SoField& field) {
    return finite(static_cast<const Field&>(field).getValue());
}

template <class Field>
bool finiteMultiple(const SoField& field) {
    const Field& values = static_cast<const Field&>(field);
    const int count = values.getNum();
    const auto* value = values.getValues(0);
    for (int i = 0; i < count; ++i)
        if (!finite(value[i])) return false;
    return true;
}

struct FieldCheck {
    SoType type;
    bool (*finite)(const SoField&);
};

// Made on first use: field types exist only after SoDB::init.
const std::vector<FieldCheck>& fieldChecks() {
    static const std::vector<FieldCheck> checks = {
        {SoSFFloat::getClassTypeId(), finiteSingle<SoSFFloat>},
        {SoMFFloat::getClassTypeId(), finiteMultiple<SoMFFloat>},
        {SoSFDouble::getClassTypeId(), finiteSingle<SoSFDouble>},
        {SoMFDouble::getClassTypeId(), finiteMultiple<SoMFDouble>},
        {SoSFTime::getClassTypeId(), finiteSingle<SoSFTime>},
        {SoMFTime::getClassTypeId(), finiteMultiple<SoMFTime>},
        {SoSFVec2f::getClassTypeId(), finiteSingle<SoSFVec2f>},
        {SoMFVec2f::getClassTypeId(), finiteMultiple<SoMFVec2f>},
        {SoSFVec3f::getClassTypeId(), finiteSingle<SoSFVec3f>},
        {SoMFVec3f::getClassTypeId(), finiteMultiple<SoMFVec3f>},
        {SoSFVec4f::getClassTypeId(), finiteSingle<SoSFVec4f>},
        {SoMFVec4f::getClassTypeId(), finiteMultiple<SoMFVec4f>},
        {SoSFVec2d::getClassTypeId(), finiteSingle<SoSFVec2d>},
        {SoMFVec2d::getClassTypeId(), finiteMultiple<SoMFVec2d>},
        {SoSFVec3d::getClassTypeId(), finiteSingle<SoSFVec3d>},
        {SoMFVec3d::getClassTypeId(), finiteMultiple<SoMFVec3d>},
        {SoSFVec4d::getClassTypeId(), finiteSingle<SoSFVec4d>},
        {SoMFVec4d::getClassTypeId(), finiteMultiple<SoMFVec4d>},
        {SoSFColor::getClassTypeId(), finiteSingle<SoSFColor>},
        {SoMFColor::getClassTypeId(), finiteMultiple<SoMFColor>},
        {SoSFColorRGBA::getClassTypeId(), finiteSingle<SoSFColorRGBA>},
        {SoMFColorRGBA::getClassTypeId(), finiteMultiple<SoMFColorRGBA>},
        {SoSFRotation::getClassTypeId(), finiteSingle<SoSFRotation>},
        {SoMFRotation::getClassTypeId(), finiteMultiple<SoMFRotation>},
        {SoSFMatrix::getClassTypeId(), finiteSingle<SoSFMatrix>},
        {SoMFMatrix::getClassTypeId(), finiteMultiple<SoMFMatrix>},
        {SoSFPlane::getClassTypeId(), finiteSingle<SoSFPlane>},
        {SoMFPlane::getClassTypeId(), finiteMultiple<SoMFPlane>},
        {SoSFBox2f::getClassTypeId(), finiteSingle<SoSFBox2f>},
        {SoSFBox3f::getClassTypeId(), finiteSingle<SoSFBox3f>},
        {SoSFBox2d::getClassTypeId(), finiteSingle<SoSFBox2d>},
        {SoSFBox3d::getClassTypeId(), finiteSingle<SoSFBox3d>},
    };
    return checks;
}

}  // namespace

bool holdsOnlyFiniteValues(const SoField& field) {
    const SoType type = field.getTypeId();
    for (const FieldCheck& check : fieldChecks())
        if (type == check.type) return check.finite(field);
    // Integers, names, strings, images, enumerations: no floats.
    return true;
}

const SoField* findNonFiniteField(SoNode* root, SoNode** owner) {
    if (!root) return nullptr;
    SoFieldList fields;
    const int count = root->getFields(fields);
    for (int i = 0; i < count; ++i) {
        if (holdsOnlyFiniteValues(*fields[i])) continue;
        if (owner) *owner = root;
        return fields[i];
    }
    if (!root->isOfType(SoGroup::getClassTypeId())) return nullptr;
    SoGroup* group = static_cast<SoGroup*>(root);
    for (int i = 0; i < group->getNumChildren(); ++i)
        if (const SoField* found = findNonFiniteField(group->getChild(i), owner)) return found;
    return nullptr;
}

}  // namespace kestrav
