#pragma once

// A forward-only recordset over one SELECT of an ODBC source, read so that
// memory stays bounded whatever the number of rows and the size of a value:
// - where the driver allows (FetchAbilities), the columns are bound to
//   buffers and the rows come in blocks of up to a few hundred
//   (SQL_ATTR_ROW_ARRAY_SIZE), one driver call per block; a value longer
//   than its buffer is read again whole with SQLGetData when it is asked for;
// - a long value (text or binary) asked for through FieldSize and GetChunk
//   is read in pieces with SQLGetData and never held whole;
// - elsewhere the rows come one at a time and every value is read with
//   SQLGetData, in column order.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/model/object_model.h"

namespace kesmark::odbc {

// The rows of one block: as many as fit in `blockBytes` of buffers at
// `rowBytes` a row, at least 1 and at most `maxRows`. When the driver reads
// `driverBatchRows` rows from the server at a time, no more than that, and a
// divisor of it where one is near, so that a block does not span two of the
// driver's batches and a failure in one batch leaves every row before it
// read.
//   BlockRows(1000, 100000, 512, nullopt) -> 100
//   BlockRows(1000, 1000000, 512, 1000)   -> 500
std::size_t BlockRows(std::size_t rowBytes, std::size_t blockBytes, std::size_t maxRows,
                      std::optional<std::size_t> driverBatchRows);

// A result column as the recordsets give it to the model.
struct ResultShape {
    ColumnDescription description;  // its sqlType the model's (ResultColumnTypeOf)
    int daoType = 0;
    std::string typeName;     // the source's own (SQL_DESC_TYPE_NAME)
    std::string sourceField;  // the table's column, or the result column's name
};

// The columns of the result `statement` (on `connection`) holds.
std::vector<ResultShape> DescribeResult(Connection& connection, Statement& statement);

// A field of a recordset that answers for its fields' current values: the
// recordset (Owner) gives Column(i) (its description.name, daoType and
// sourceField), Table(), and the current row's ValueAt, AppendEncoded,
// SizeAt and ChunkAt of column i.
template <class Owner>
class OwnedField : public RecordsetField {
  public:
    OwnedField(Owner& owner, std::size_t index) : owner_(owner), index_(index) {}

    std::string Name() override { return owner_.Column(index_).description.name; }
    int Type() override { return owner_.Column(index_).daoType; }
    Value GetValue() override { return owner_.ValueAt(index_); }
    void AppendEncodedValue(std::string& out) override { owner_.AppendEncoded(index_, out); }
    std::int64_t FieldSize() override { return owner_.SizeAt(index_); }
    Bytes GetChunk(std::int64_t offset, std::size_t count) override {
        return owner_.ChunkAt(index_, offset, count);
    }
    std::string SourceTable() override { return owner_.Table(); }
    std::string SourceField() override { return owner_.Column(index_).sourceField; }

  private:
    Owner& owner_;  // Not owned.
    std::size_t index_;
};

// Runs `sql`, with `parameters` bound to its markers, on `connection` (not
// owned; it must outlive the recordset) and
// returns a recordset on its first row. `table` names the table in messages
// and is each field's SourceTable. Throws DbError ("opening table T: ...")
// when the statement fails.
std::unique_ptr<Recordset> OpenOdbcRecordset(Connection& connection, std::string table,
                                             const std::string& sql,
                                             const std::vector<Parameter>& parameters = {});

}  // namespace kesmark::odbc
