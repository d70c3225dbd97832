-- A small host catalogue; @069@, @211@ and @300@ stand for the distributors' IDSoggetto,
-- which differ from catalogue to catalogue so that each answer shows where it came from.
CREATE TABLE Soggetti (IDSoggetto int PRIMARY KEY, IDTipoSoggetto nvarchar(2), CodiceFIEG nvarchar(10));
CREATE TABLE Prodotti (IDProd int PRIMARY KEY, CodiceTestata nvarchar(20), Testata nvarchar(100), IDDL int, inforiv int);
-- A publisher that shares the FIEG code: not a distributor, never the answer.
INSERT INTO Soggetti VALUES (5,'ED','069');
INSERT INTO Soggetti VALUES (@069@,'DL','069'),(@211@,'DL','211'),(@300@,'DL','300');
INSERT INTO Prodotti VALUES (1,'01000','Corriere del Borgo',@069@,1);
INSERT INTO Prodotti VALUES (2,'1007','Gazzetta Alpina',@069@,1);
INSERT INTO Prodotti VALUES (3,'1014','Il Piccolo Lettore',@069@,1);
INSERT INTO Prodotti VALUES (4,'1021','Eco di Valle',@069@,0);
INSERT INTO Prodotti VALUES (5,'1028','Sport Oggi',@300@,1);
INSERT INTO Prodotti VALUES (6,'1035','Cucina Facile',@069@,1);
INSERT INTO Prodotti VALUES (7,'ABC','Senza Codice',@069@,1);
INSERT INTO Prodotti VALUES (8,'1042','Motori & Strade',@069@,1);
INSERT INTO Prodotti VALUES (9,'1049','Viaggi d''Italia',@069@,1);
-- Codes and titles a spreadsheet would take for numbers or formulas.
INSERT INTO Prodotti VALUES (10,'0678','=1+1',@069@,1);
INSERT INTO Prodotti VALUES (11,'678 ','Sud; "Est"',@069@,1);
-- Enough further titles of 069 for the run to last a moment on screen.
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999)
INSERT INTO Prodotti SELECT 1000 + i, CAST(20000 + i AS TEXT), 'Titolo ' || i, @069@, 1 FROM n;
