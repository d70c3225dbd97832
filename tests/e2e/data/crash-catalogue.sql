-- A catalogue big enough for each stage of the run to write many batches.
CREATE TABLE Soggetti (IDSoggetto int PRIMARY KEY, IDTipoSoggetto nvarchar(2), CodiceFIEG nvarchar(10));
CREATE TABLE Prodotti (IDProd int PRIMARY KEY, CodiceTestata nvarchar(20), Testata nvarchar(100), IDDL int, inforiv int);
INSERT INTO Soggetti VALUES (12,'DL','069'),(34,'DL','211'),(56,'DL','300');
-- 120,000 titles of 069. Every tenth code carries a leading zero; every 997th repeats its
-- predecessor's code, so that two titles compete for one staging row.
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 119999)
INSERT INTO Prodotti
SELECT i + 1,
       CASE WHEN i % 997 = 0 AND i > 0 THEN CAST(100000 + i - 1 AS TEXT)
            WHEN i % 10 = 3 THEN '0' || (100000 + i)
            ELSE CAST(100000 + i AS TEXT) END,
       'Titolo ' || i, 12, CASE WHEN i % 50 = 7 THEN 0 ELSE 1 END
FROM n;
-- Titles of another distributor whose codes the table holds: never touched.
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 199)
INSERT INTO Prodotti SELECT 400000 + i, CAST(100000 + i AS TEXT), 'Altro ' || i, 56, 1 FROM n;
