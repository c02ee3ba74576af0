"""read_table: the tool's tables in every line ending, with null rows and a
null report."""

import pytest

import vadoset

HEADER = "Year or site\tPET_01\tPET"
ROWS = ["NA\t1.5\t2", "007\t*", "Ödön Ås\t1e-05\t0.30000000000000004", "X\t*"]


@pytest.mark.parametrize("end", ["\r", "\n", "\r\n"])
def test_rows_ids_and_numbers(tmp_path, end):
    path = tmp_path / "t.txt"
    path.write_bytes((end.join([HEADER, *ROWS]) + end).encode())
    table = vadoset.read_table(path)
    assert list(table.index) == ["NA", "007", "Ödön Ås", "X"]  # text, never numbers or NaN
    assert list(table.columns) == ["PET_01", "PET"]
    assert table["PET"].iloc[2] == 0.30000000000000004 and table["PET_01"].iloc[2] == 1e-05
    assert table.iloc[[1, 3]].isna().all().all() and not table.iloc[[0, 2]].isna().any().any()


@pytest.mark.parametrize(
    "report, error",
    [
        ("line\tidentifier\tcode\treason\n3\t007\tprecipitation_missing\tmonth 2 missing\n5\tX\tperennial_snow\tsnow\n", None),
        ("Reason\tIdentifier\nmonth 2 missing\t007\nsnow\tX\n", None),  # other order and case, no code
        ("line\tidentifier\tcode\treason\n3\t007\tx\ty\n", "lists 1 null rows but the table has 2"),
        ("line\tidentifier\tcode\treason\n3\tNA\tx\ty\n5\tX\tx\ty\n", "null row 1 is 'NA' in the report but '007'"),
        ("line\tidentifier\n3\t007\n", "no 'reason' column"),
    ],
)
def test_null_report(tmp_path, report, error):
    (tmp_path / "t.txt").write_text("\r".join([HEADER, *ROWS]) + "\r")
    (tmp_path / "r.txt").write_text(report)
    if error:
        with pytest.raises(ValueError, match=error):
            vadoset.read_table(tmp_path / "t.txt", null_report=tmp_path / "r.txt")
        return
    table = vadoset.read_table(tmp_path / "t.txt", null_report=tmp_path / "r.txt")
    assert list(table["null_reason"]) == ["", "month 2 missing", "", "snow"]
    assert ("null_code" in table) == ("code" in report)


def test_not_a_table(tmp_path):
    (tmp_path / "t.txt").write_text("just one field\n")
    with pytest.raises(ValueError, match="is not a vadoset-cli table"):
        vadoset.read_table(tmp_path / "t.txt")
    (tmp_path / "t.txt").write_text(HEADER + "\nA\t1\tx\n")
    with pytest.raises(ValueError, match=r"column PET \(line 2, 'x'\) holds a value that is not a number"):
        vadoset.read_table(tmp_path / "t.txt")


@pytest.mark.parametrize("end", ["\r", "\n", "\r\n"])
@pytest.mark.parametrize("block", [5, 7, 64])
def test_streamed_in_blocks(tmp_path, monkeypatch, end, block):
    # The table is read a block at a time: a line end split between two
    # blocks (CR in one, LF in the next) is still one line end.
    from vadoset import _table

    monkeypatch.setattr(_table._LineEnds, "BLOCK", block)
    rows = [f"s{i}\t{i}.5\t{i * 3}" if i % 4 else f"s{i}\t*" for i in range(40)]
    path = tmp_path / "t.txt"
    path.write_bytes((end.join([HEADER, *rows]) + end).encode())
    table = vadoset.read_table(path, chunksize=7)
    assert list(table.index) == [f"s{i}" for i in range(40)]
    assert table["PET"].iloc[5] == 15.0 and table.iloc[::4].isna().all().all()
