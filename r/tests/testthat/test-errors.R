t <- matrix(10, 2, 12)
p <- matrix(50, 2, 12)

test_that("bad arguments give errors that name them", {
  cases <- list(
    list(quote(water_balance("a", p, 45)), "^tmean must be a numeric matrix with 12 columns"),
    list(quote(water_balance(matrix(1, 2, 11), p, 45)), "^tmean must be a numeric matrix with 12 columns"),
    list(quote(water_balance(t, p[1, , drop = FALSE], 45)), "^prec must hold as many records as tmean \\(2\\)"),
    list(quote(water_balance(t, p)), "^lat is missing"),
    list(quote(water_balance(t, p, c(1, 2, 3))), "^lat must be one number, or one a record \\(2\\)"),
    list(quote(water_balance(t, p, "45")), "^lat must be one number"),
    list(quote(water_balance(t, p, 45, field_capacity = 0.5)), "^field_capacity must be a positive number"),
    list(quote(water_balance(t, p, 45, field_capacity = NA)), "^field_capacity must be a positive number"),
    list(quote(water_balance(t, p, 45, curve = "Z")), "^curve must be one letter from A to H"),
    list(quote(water_balance(t, p, 45, carryover = NA)), "^carryover must be TRUE or FALSE"),
    list(quote(water_balance(t, p, 45, threads = 0)), "^threads must be NULL or a whole number"),
    list(quote(water_balance(t, p, 45, site = 1:2)), "^site gives the chains of years for carry-over"),
    list(quote(water_balance(t, p, 45, carryover = TRUE, site = 1:3)), "^site must give the site of every record"),
    list(quote(water_balance(t, p, 45, as = "matrix")), "^as must be one of"),
    list(quote(water_balance(data.frame(a = 1:3, b = "x"), p, 45)), "^tmean must have 12 month columns"),
    list(quote(water_balance(setNames(data.frame(t, 1), letters[1:13]), p, 45)), "^tmean must have 12 month columns"),
    list(quote(water_balance(t, transform(data.frame(p), X3 = "12,5"), 45)),
         "^prec's column 'X3' must hold numbers, not character"),
    list(quote(read_vadoset("no_such_t.txt", "no_such_p.txt")), "^The file no_such_p.txt doesn't exist\\.$"),
    list(quote(read_vadoset(sample_file("allsites_temp.txt"), sample_file("allsites_prec.txt"), format = "hcn",
                            latitude = 40)), "^Precip file not an HCN format file\\.$"),
    list(quote(read_vadoset("a", "b", format = "hcn")), "^latitude is needed with the HCN format"),
    list(quote(read_vadoset("a", "b", latitude = 40)), "^latitude is only for the HCN format"),
    list(quote(read_vadoset("a", "b", format = "xls")), "^format must be one of \"tab\", \"hcn\", \"csv\""),
    list(quote(write_vadoset_table(list(1), "x.txt")), "^x must be what water_balance\\(\\) returned"),
    list(quote(write_vadoset_table(water_balance(t, p, 45), tempdir())),
         "^The output file .* could not be written: it is a folder\\.$"),
    list(quote(write_vadoset_table(water_balance(t, p, 45), file.path(tempdir(), "none", "x.txt"))),
         "^The output file x.txt could not be written: the folder does not exist\\.$"),
    list(quote(write_vadoset_table(water_balance(t, p, 45), tempfile(), columns = "classic,wet")),
         "^columns: 'wet' is not a column group"),
    list(quote(write_vadoset_table(water_balance(t, p, 45)[, c("pet_01", "null")], tempfile())),
         "^x has no column pet_02, which these columns need")
  )
  for (case in cases) {
    err <- tryCatch(eval(case[[1]]), vadoset_error = function(e) e)
    expect_s3_class(err, "vadoset_error")
    expect_match(conditionMessage(err), case[[2]], label = deparse(case[[1]])[1])
  }
})

test_that("raster arguments give errors that name them", {
  skip_if_not_installed("terra")
  r12 <- terra::rast(nrows = 2, ncols = 2, nlyrs = 12, vals = 10)
  r11 <- terra::rast(nrows = 2, ncols = 2, nlyrs = 11, vals = 10)
  other <- terra::rast(nrows = 3, ncols = 2, nlyrs = 12, vals = 10)
  cases <- list(
    list(quote(water_balance_rast(matrix(1, 2, 12), r12)), "^tmean must be a terra SpatRaster"),
    list(quote(water_balance_rast(r11, r11)), "^tmean must have 12 layers .* not 11"),
    list(quote(water_balance_rast(r12, other)), "^prec must have the geometry of tmean"),
    list(quote(water_balance_rast(r12, r12, field_capacity = other[[1]])), "^field_capacity must be a raster of one layer"),
    list(quote(water_balance_rast(r12, r12, layers = "wet")), "^layers must name what to write"),
    list(quote(water_balance_rast(r12, r12, cores = 0)), "^cores must be a whole number")
  )
  for (case in cases) {
    err <- tryCatch(eval(case[[1]]), vadoset_error = function(e) e)
    expect_s3_class(err, "vadoset_error")
    expect_match(conditionMessage(err), case[[2]], label = deparse(case[[1]])[1])
  }
})

test_that("the input checks warn about likely mistakes, once a kind", {
  swapped <- water_balance_warnings(p * 2, t, 45)
  expect_match(swapped[1], "^24 monthly mean temperatures lie outside -80 to 60 .C \\(the first: record 1, month 1: 100 .C\\)\\. Are tmean and prec swapped")
  # 100 degrees is beyond the PET formula's range: every row is null.
  expect_match(swapped[2], "^every record is a null row")
  codes <- p
  codes[2, 3:4] <- -99.9
  expect_match(water_balance_warnings(t, codes, 45), "^2 monthly precipitation totals are negative \\(the first: record 2, month 3: -99.9\\)")
  tenths <- p * 200
  expect_match(water_balance_warnings(t, tenths, 45), "^24 monthly precipitation totals exceed 5000 mm")
  expect_match(water_balance_warnings(t, p, c(45, 4.5e6)), "^1 record has no latitude from -90 to 90 decimal degrees \\(record 2: 4500000\\)")
  expect_match(water_balance_warnings(t, p, NA), "^every record is a null row")
  # Missing-value markers are no mistake.
  marked <- t
  marked[1, ] <- -9999
  expect_length(water_balance_warnings(marked, p, 45), 0)
})
