# The package gives vadoset-cli's table to the byte (so its numbers to the
# bit): on the sample files through read_vadoset(), and on random records
# through matrices, for every availability function, with and without
# carry-over.

test_that("the sample files give vadoset-cli's table", {
  cases <- list(
    list(files = c("allsites_temp.txt", "allsites_prec.txt"), read = list(), wb = list(), cli = character()),
    list(files = c("allsites_temp.csv", "allsites_prec.csv"), read = list(format = "csv", field_capacity = 250),
         wb = list(curve = "B"), cli = c("--format", "csv", "--field-capacity", "250", "--function", "B")),
    list(files = c("hcn_temp.txt", "hcn_prec.txt"), read = list(format = "hcn", latitude = 44.47),
         wb = list(curve = "H"), cli = c("--format", "hcn", "--latitude", "44.47", "--function", "H")),
    list(files = c("series_temp.txt", "series_prec.txt"), read = list(), wb = list(carryover = TRUE),
         cli = "--carryover"),
    list(files = c("series_temp.txt", "series_prec.txt"), read = list(keep_precipitation_fraction = TRUE),
         wb = list(carryover = TRUE, curve = "A"),
         cli = c("--carryover", "--keep-precipitation-fraction", "--function", "A"))
  )
  for (case in cases) {
    files <- vapply(case$files, sample_file, "")
    records <- do.call(read_vadoset, c(list(files[1], files[2]), case$read))
    wb <- do.call(water_balance, c(list(records), case$wb))
    all_columns <- "classic,deficit,soil,snow,precip"
    expect_identical(r_table(wb, columns = all_columns, line_ending = "lf"),
                     cli_table("-t", files[1], "-p", files[2], case$cli, "--columns", all_columns,
                               "--line-ending", "lf"),
                     label = paste(case$files[1], paste(case$cli, collapse = " ")))
  }
})

test_that("random records on matrices give vadoset-cli's numbers for every curve, with and without carry-over", {
  rec <- random_records(400, seed = 21)
  fc <- sample(c(25, 100, 150.7, 400, NA, 0), 400, replace = TRUE)
  files <- write_tab(rec, file.path(tempdir(), "random"), fc = fc)
  on.exit(unlink(files))
  # An empty field capacity field makes a null row, as NA does here.
  fc_used <- fc
  for (curve in LETTERS[1:8]) {
    for (carryover in c(FALSE, TRUE)) {
      wb <- suppressWarnings(water_balance(rec$tmean, rec$prec, rec$lat, field_capacity = fc_used, curve = curve,
                          carryover = carryover, threads = 2))
      args <- c("-t", files[["t"]], "-p", files[["p"]], "--function", curve, "--field-capacity-field", "15",
                "--columns", "classic,deficit,soil,snow", if (carryover) "--carryover")
      expect_identical(r_table(wb, columns = "classic,deficit,soil,snow", id = rec$id), cli_table(args),
                       label = sprintf("curve %s, carryover %s", curve, carryover))
    }
  }
})

test_that("the sample stations give the same numbers on one thread and on several", {
  records <- read_vadoset(sample_file("allsites_temp.txt"), sample_file("allsites_prec.txt"))
  rec <- random_records(1000, seed = 5)
  one <- suppressWarnings(water_balance(rec$tmean, rec$prec, rec$lat, threads = 1))
  expect_identical(suppressWarnings(water_balance(rec$tmean, rec$prec, rec$lat, threads = 3)), one)
  expect_identical(water_balance(records, threads = 1), water_balance(records, threads = 2))
})
