#pragma once

class TField;

// Told of everything a record set does that bound controls and data sources must follow.
class DataSetObserver {
public:
    virtual ~DataSetObserver() = default;
    virtual void dataSetStateChanged() {}
    // The content or the current record changed: every field may show another value.
    virtual void dataSetRecordChanged() {}
    virtual void dataSetFieldChanged(TField&) {}
    // Post asks bound controls to write their text into the record first.
    virtual void dataSetUpdateRecord() {}
    virtual void dataSetFocusControl(TField&) {}
    // The set is being destroyed: forget it.
    virtual void dataSetDestroyed() {}
};
